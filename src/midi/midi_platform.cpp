// The platform the ports stand on: RtMidi by default, or one a test installs.
#include "midi_platform.h"

#include <RtMidi.h>
#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <thread>
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
        refresh<RtMidiOut>(out_ports);
        return static_cast<unsigned>(out_ports.size());
    }
    bool out_name(unsigned id, std::string& name) override
    {
        if (id >= out_ports.size()) return false;
        name = out_ports[id].name;
        return true;
    }
    void* out_open(unsigned id) override
    {
        if (id >= out_ports.size()) return nullptr;
        quiet_cerr_t quiet;
        try {
            auto out = std::make_unique<output_t>();
            out->api = out_ports[id].api;
            out->port = std::make_unique<RtMidiOut>(out->api, client_name);
            out->port->setErrorCallback(quiet_rtmidi);
            out->port->openPort(out_ports[id].index, client_name);
            if (!out->port->isPortOpen()) return nullptr;
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
        std::unique_ptr<output_t> out(static_cast<output_t*>(handle));
        // JACK hands messages over in its next cycles: closing at once would
        // drop the last ones (a stop message, the last note ends).
        if (out->api == RtMidi::UNIX_JACK && out->sent_any) {
            auto since = std::chrono::steady_clock::now() - out->last_send;
            if (since < jack_drain) std::this_thread::sleep_for(jack_drain - since);
        }
        try {
            out->port->closePort();
            out->port.reset();
            return true;
        } catch (const RtMidiError&) {
            return false;
        }
    }

    unsigned in_count() override
    {
        refresh<RtMidiIn>(in_ports);
        return static_cast<unsigned>(in_ports.size());
    }
    bool in_name(unsigned id, std::string& name) override
    {
        if (id >= in_ports.size()) return false;
        name = in_ports[id].name;
        return true;
    }
    void* in_open(unsigned id, const in_events_t& events) override
    {
        if (id >= in_ports.size()) return nullptr;
        quiet_cerr_t quiet;
        auto input = std::make_unique<input_t>();
        input->events = events;
        try {
            input->port = std::make_unique<RtMidiIn>(in_ports[id].api, client_name);
            input->port->setErrorCallback(quiet_rtmidi);
            // Everything reaches the listener, System Exclusive included.
            input->port->ignoreTypes(false, false, false);
            input->port->setCallback(on_input, input.get());
            input->port->openPort(in_ports[id].index, client_name);
            if (!input->port->isPortOpen()) return nullptr;
        } catch (const RtMidiError&) {
            return nullptr;
        }
        if (events.on_open) events.on_open(events.user);
        return input.release();
    }
    int in_start(void* handle) override
    {
        auto* input = static_cast<input_t*>(handle);
        input->start = std::chrono::steady_clock::now();
        input->started = true;
        return 0;
    }
    int in_stop(void* handle) override
    {
        static_cast<input_t*>(handle)->started = false;
        return 0;
    }
    int in_close(void* handle) override
    {
        auto* input = static_cast<input_t*>(handle);
        int code = 0;
        // The callback stays set: RtMidi's JACK thread may be about to call it,
        // and a cancelled one would be a null call. It drops what comes now,
        // and deleting the port ends that thread before the record goes.
        input->started = false;
        try {
            input->port->closePort();
            input->port.reset();
        } catch (const RtMidiError& e) {
            code = static_cast<int>(e.getType()) + 1;
        }
        in_events_t events = input->events;
        delete input;
        if (events.on_close) events.on_close(events.user);
        return code;
    }

private:
    struct port_t { RtMidi::Api api; unsigned index; std::string name; };

    // Two cycles of a long JACK period (1024 frames at 48 kHz).
    static constexpr std::chrono::milliseconds jack_drain{50};

    struct output_t {
        std::unique_ptr<RtMidiOut> port;
        RtMidi::Api api = RtMidi::UNSPECIFIED;
        bool sent_any = false;
        std::chrono::steady_clock::time_point last_send;
    };

    struct input_t {
        std::unique_ptr<RtMidiIn> port;
        in_events_t events{};
        std::atomic<bool> started{false};
        std::chrono::steady_clock::time_point start;
    };

    // RtMidi's thread: whole messages, stamped with the time since input started.
    static void on_input(double, std::vector<unsigned char>* message, void* user)
    {
        auto* input = static_cast<input_t*>(user);
        if (!input->started || !message || message->empty()) return;
        auto elapsed = std::chrono::steady_clock::now() - input->start;
        auto ms = static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
        const std::vector<unsigned char>& m = *message;
        if (m[0] == 0xF0 || m.size() > 3) {
            if (input->events.on_long) input->events.on_long(input->events.user, m.data(), m.size(), ms);
            return;
        }
        uint32_t word = 0;
        for (size_t i = 0; i < m.size(); ++i) word |= uint32_t(m[i]) << (8 * i);
        if (input->events.on_short) input->events.on_short(input->events.user, word, ms);
    }

    static bool send(void* handle, const unsigned char* bytes, size_t len)
    {
        auto* out = static_cast<output_t*>(handle);
        out->last_send = std::chrono::steady_clock::now();
        out->sent_any = true;
        try {
            out->port->sendMessage(bytes, len);
            return true;
        } catch (const RtMidiError&) {
            return false;
        }
    }
    template <class rtmidi_port_t>
    void refresh(std::vector<port_t>& ports)
    {
        ports.clear();
        std::vector<RtMidi::Api> apis;
        RtMidi::getCompiledApi(apis);
        for (RtMidi::Api api : apis) {
            if (api == RtMidi::RTMIDI_DUMMY) continue;
            quiet_cerr_t quiet;
            try {
                rtmidi_port_t probe(api, client_name);
                probe.setErrorCallback(quiet_rtmidi);
                unsigned n = probe.getPortCount();
                for (unsigned i = 0; i < n; ++i) ports.push_back({api, i, probe.getPortName(i)});
            } catch (const RtMidiError&) {
                // This service is not running here: it simply has no ports.
            }
        }
    }

    std::vector<port_t> out_ports;
    std::vector<port_t> in_ports;
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
