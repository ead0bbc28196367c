// The platform the ports stand on: RtMidi by default, or one a test installs.
#include "midi_platform.h"

#include "midi_jack_driver.h"
#include "midi_thread_driver.h"

#include <RtMidi.h>
#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
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

// Sends through one RtMidi output at once, on the sender thread.
class rtmidi_sender_t : public midi_sender_t {
public:
    rtmidi_sender_t(RtMidiOut* port, bool keep) : port(port), keep(keep)
    {
        port->setErrorCallback(on_error, this);
    }
    ~rtmidi_sender_t() override
    {
        port->setErrorCallback(quiet_rtmidi);
        port->closePort();
        if (!keep) delete port;
    }
    bool send(const unsigned char* bytes, size_t len) override
    {
        refused = false;
        port->sendMessage(bytes, len);   // errors come to on_error
        return !refused;
    }

private:
    static void on_error(RtMidiError::Type type, const std::string&, void* self)
    {
        if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING)
            static_cast<rtmidi_sender_t*>(self)->refused = true;
    }

    RtMidiOut* port;
    bool keep;
    bool refused = false;
};

// The output ports of every API RtMidi was built with, numbered on from one
// API to the next. JACK's are served by the program's own client, which
// writes every event at its frame; the others by a sender thread.
class rtmidi_platform_t : public midi_platform_t {
public:
    explicit rtmidi_platform_t(bool jack_through_rtmidi) : jack_through_rtmidi(jack_through_rtmidi)
    {
        snd_lib_error_set_handler(quiet_alsa);
        jack_set_error_function(quiet_jack);
        jack_set_info_function(quiet_jack);
    }

    unsigned out_count() override
    {
        refresh_out();
        return static_cast<unsigned>(out_ports.size());
    }
    bool out_name(unsigned id, std::string& name) override
    {
        if (id >= out_ports.size()) return false;
        name = out_ports[id].name;
        return true;
    }
    std::unique_ptr<midi_driver_t> out_open(unsigned id) override
    {
        if (id >= out_ports.size()) return nullptr;
        const port_t& device = out_ports[id];
        const bool jack = device.api == RtMidi::UNIX_JACK;
        if (jack && !jack_through_rtmidi) return midi_jack_driver_t::open(device.name);
        quiet_cerr_t quiet;
        RtMidiOut* port = new_output(device.api);
        if (!port) return nullptr;
        auto sender = std::make_unique<rtmidi_sender_t>(port, jack);
        port->openPort(device.index, client_name);
        if (!port->isPortOpen()) return nullptr;
        return std::make_unique<midi_thread_driver_t>(std::move(sender), device.name);
    }

    unsigned in_count() override
    {
        refresh_in();
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

    // A closed output of that API, or null when the service is not there.
    // RtMidi 5's JACK output frees its ring buffer before it closes its JACK
    // client, so that client's process thread can read freed memory while the
    // output is destroyed: a JACK one is kept for the process's life.
    static RtMidiOut* new_output(RtMidi::Api api)
    {
        try {
            auto port = std::make_unique<RtMidiOut>(api, client_name);
            port->setErrorCallback(quiet_rtmidi);
            return port.release();
        } catch (const RtMidiError&) {
            return nullptr;
        }
    }

    void refresh_out()
    {
        out_ports.clear();
        for (RtMidi::Api api : apis()) {
            // JACK's, in the order RtMidi numbers them, without an RtMidi
            // output that would have to be kept (see new_output).
            if (api == RtMidi::UNIX_JACK) {
                std::vector<std::string> names = jack_midi_destinations();
                for (unsigned i = 0; i < names.size(); ++i) out_ports.push_back({api, i, names[i]});
                continue;
            }
            quiet_cerr_t quiet;
            std::unique_ptr<RtMidiOut> lister(new_output(api));
            if (!lister) continue;   // this service is not running here: it has no ports
            unsigned n = lister->getPortCount();
            for (unsigned i = 0; i < n; ++i) out_ports.push_back({api, i, lister->getPortName(i)});
        }
    }
    void refresh_in()
    {
        in_ports.clear();
        for (RtMidi::Api api : apis()) {
            quiet_cerr_t quiet;
            try {
                RtMidiIn probe(api, client_name);
                probe.setErrorCallback(quiet_rtmidi);
                unsigned n = probe.getPortCount();
                for (unsigned i = 0; i < n; ++i) in_ports.push_back({api, i, probe.getPortName(i)});
            } catch (const RtMidiError&) {
                // This service is not running here: it simply has no ports.
            }
        }
    }
    static std::vector<RtMidi::Api> apis()
    {
        std::vector<RtMidi::Api> compiled, used;
        RtMidi::getCompiledApi(compiled);
        for (RtMidi::Api api : compiled)
            if (api != RtMidi::RTMIDI_DUMMY) used.push_back(api);
        return used;
    }

    bool jack_through_rtmidi;
    std::vector<port_t> out_ports;
    std::vector<port_t> in_ports;
};

midi_platform_t* installed = nullptr;

}  // namespace

midi_platform_t& midi_platform()
{
    static rtmidi_platform_t rtmidi(false);
    return installed ? *installed : rtmidi;
}

std::unique_ptr<midi_platform_t> make_rtmidi_platform(bool jack_through_rtmidi)
{
    return std::make_unique<rtmidi_platform_t>(jack_through_rtmidi);
}

void set_midi_platform(midi_platform_t* platform)
{
    installed = platform;
}
