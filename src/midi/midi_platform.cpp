// The platform the ports stand on: RtMidi by default, or one a test installs.
#include "midi_platform.h"

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
        refresh_out();
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
        auto out = std::make_unique<output_t>();
        out->api = out_ports[id].api;
        // A parked JACK output may have lost its server: then a fresh one.
        for (bool parked_ok : {true, false}) {
            RtMidiOut* port = take_output(out->api, parked_ok);
            if (!port) return nullptr;
            port->setErrorCallback(on_output_error, out.get());
            port->openPort(out_ports[id].index, client_name);
            if (port->isPortOpen()) {
                out->port = port;
                return out.release();
            }
            release_output(out->api, port, !parked_ok);
        }
        return nullptr;
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
        // On JACK this returns once a process cycle has taken what was sent,
        // so the last messages (a stop message) are not lost.
        out->port->closePort();
        release_output(out->api, out->port, true);
        return true;
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

    struct output_t {
        RtMidiOut* port = nullptr;   // from take_output, back through release_output
        RtMidi::Api api = RtMidi::UNSPECIFIED;
        bool failed = false;   // RtMidi reported an error since the last send began
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

    // RtMidi 5's JACK output frees its ring buffer before it closes its JACK
    // client, so the client's process thread can read freed memory while the
    // output is destroyed (seen as a crash under load). So a JACK output is
    // never destroyed: closed, its port unregistered and its process callback
    // idle, it waits here for the next open on the same server.
    struct parked_t {
        std::string server;
        RtMidiOut* port;
        bool usable;
    };
    static std::vector<parked_t>& parked()
    {
        static auto* outputs = new std::vector<parked_t>;   // lives as long as the process
        return *outputs;
    }
    static std::string jack_server()
    {
        const char* name = std::getenv("JACK_DEFAULT_SERVER");
        return name ? name : "default";
    }

    // A closed output of that API: a parked one, or a new one (null when the
    // service is not there).
    static RtMidiOut* take_output(RtMidi::Api api, bool parked_ok = true)
    {
        if (api == RtMidi::UNIX_JACK && parked_ok) {
            const std::string server = jack_server();
            for (auto it = parked().begin(); it != parked().end(); ++it) {
                if (it->usable && it->server == server) {
                    RtMidiOut* port = it->port;
                    parked().erase(it);
                    return port;
                }
            }
        }
        try {
            auto port = std::make_unique<RtMidiOut>(api, client_name);
            port->setErrorCallback(quiet_rtmidi);
            return port.release();
        } catch (const RtMidiError&) {
            return nullptr;
        }
    }
    static void release_output(RtMidi::Api api, RtMidiOut* port, bool usable)
    {
        port->setErrorCallback(quiet_rtmidi);
        if (api == RtMidi::UNIX_JACK) {
            parked().push_back({jack_server(), port, usable});
        } else {
            delete port;
        }
    }

    static void on_output_error(RtMidiError::Type type, const std::string&, void* user)
    {
        if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING)
            static_cast<output_t*>(user)->failed = true;
    }

    static bool send(void* handle, const unsigned char* bytes, size_t len)
    {
        auto* out = static_cast<output_t*>(handle);
        out->failed = false;
        out->port->sendMessage(bytes, len);   // errors come to on_output_error
        return !out->failed;
    }
    void refresh_out()
    {
        out_ports.clear();
        for (RtMidi::Api api : apis()) {
            quiet_cerr_t quiet;
            RtMidiOut* probe = take_output(api);
            if (!probe) continue;   // this service is not running here: it has no ports
            unsigned n = probe->getPortCount();
            for (unsigned i = 0; i < n; ++i) out_ports.push_back({api, i, probe->getPortName(i)});
            release_output(api, probe, true);
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
