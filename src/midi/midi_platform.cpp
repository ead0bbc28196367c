// The platform the ports stand on: RtMidi by default, or one a test installs.
#include "midi_platform.h"

#include <RtMidi.h>
#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <iostream>
#include <memory>
#include <vector>

midi_platform_t::~midi_platform_t() = default;

namespace {

// Swallows alsa-lib's own console messages: the program reports failures itself.
void quiet_alsa(const char*, int, const char*, int, const char*, ...) {}

void quiet_rtmidi(RtMidiError::Type, const std::string&, void*) {}

// And libjack's, printed when no JACK server runs.
void quiet_jack(const char*) {}

constexpr const char* client_name = "stepmill";

// RtMidi reports a service that is not running on std::cerr before it throws;
// the program says what went wrong in its own words instead.
class quiet_cerr_t {
public:
    quiet_cerr_t() : old(std::cerr.rdbuf(nullptr)) {}
    ~quiet_cerr_t() { std::cerr.rdbuf(old); std::cerr.clear(); }
private:
    std::streambuf* old;
};

// The output ports of every API RtMidi was built with, numbered on from one
// API to the next.
class rtmidi_platform_t : public midi_platform_t {
public:
    rtmidi_platform_t()
    {
        snd_lib_error_set_handler(quiet_alsa);
        jack_set_error_function(quiet_jack);
        jack_set_info_function(quiet_jack);
    }

    unsigned out_count() override
    {
        refresh();
        return static_cast<unsigned>(ports.size());
    }
    bool out_name(unsigned id, std::string& name) override
    {
        if (id >= ports.size()) return false;
        name = ports[id].name;
        return true;
    }
    void* out_open(unsigned id) override
    {
        if (id >= ports.size()) return nullptr;
        quiet_cerr_t quiet;
        try {
            auto out = std::make_unique<RtMidiOut>(ports[id].api, client_name);
            out->setErrorCallback(quiet_rtmidi);
            out->openPort(ports[id].index, client_name);
            if (!out->isPortOpen()) return nullptr;
            return out.release();
        } catch (const RtMidiError&) {
            return nullptr;
        }
    }
    bool out_short(void* handle, uint32_t word) override
    {
        unsigned char bytes[3] = {static_cast<unsigned char>(word), static_cast<unsigned char>(word >> 8),
                                  static_cast<unsigned char>(word >> 16)};
        return send(handle, bytes, midi_short_length(bytes[0]));
    }
    void out_long(void* handle, const unsigned char* buf, size_t len) override
    {
        send(handle, buf, len);
    }
    bool out_close(void* handle) override
    {
        auto* out = static_cast<RtMidiOut*>(handle);
        try {
            out->closePort();
            delete out;
            return true;
        } catch (const RtMidiError&) {
            return false;
        }
    }

    // Input arrives with the input port.
    unsigned in_count() override { return 0; }
    bool in_name(unsigned, std::string&) override { return false; }
    void* in_open(unsigned, const in_events_t&) override { return nullptr; }
    int in_start(void*) override { return 1; }
    int in_stop(void*) override { return 1; }
    int in_close(void*) override { return 1; }

private:
    struct port_t { RtMidi::Api api; unsigned index; std::string name; };

    static bool send(void* handle, const unsigned char* bytes, size_t len)
    {
        try {
            static_cast<RtMidiOut*>(handle)->sendMessage(bytes, len);
            return true;
        } catch (const RtMidiError&) {
            return false;
        }
    }
    void refresh()
    {
        ports.clear();
        std::vector<RtMidi::Api> apis;
        RtMidi::getCompiledApi(apis);
        for (RtMidi::Api api : apis) {
            if (api == RtMidi::RTMIDI_DUMMY) continue;
            quiet_cerr_t quiet;
            try {
                RtMidiOut probe(api, client_name);
                probe.setErrorCallback(quiet_rtmidi);
                unsigned n = probe.getPortCount();
                for (unsigned i = 0; i < n; ++i) ports.push_back({api, i, probe.getPortName(i)});
            } catch (const RtMidiError&) {
                // This service is not running here: it simply has no ports.
            }
        }
    }

    std::vector<port_t> ports;
};

midi_platform_t* installed = nullptr;

}  // namespace

midi_platform_t& midi_platform()
{
    static rtmidi_platform_t rtmidi;
    return installed ? *installed : rtmidi;
}

void set_midi_platform(midi_platform_t* platform)
{
    installed = platform;
}
