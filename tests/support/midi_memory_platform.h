// An in-memory MIDI platform for tests: devices are names a test sets, some
// steps can be made to fail, and every byte sent is kept with its time. Its
// driver has no thread: time moves only when the test advances it, period by
// period as a JACK server's would, so what is played can be held to the frame.
#pragma once

#include "midi_platform.h"

#include <string>
#include <vector>

class midi_memory_platform_t : public midi_platform_t {
public:
    static constexpr double rate = 48000;   // units per second of the timeline

    struct message_t {
        unsigned device;
        std::vector<unsigned char> bytes;
        uint64_t time;   // when it was written
    };

    std::vector<std::string> out_devices;
    std::vector<std::string> in_devices;
    bool fail_short = false;      // short messages are refused
    int fail_start = 0;           // error codes of the input steps; 0 succeeds
    int fail_close = 0;
    int close_calls = 0;

    std::vector<message_t> sent;  // every message, in order

    // Installs itself as the platform for its lifetime.
    midi_memory_platform_t();
    ~midi_memory_platform_t() override;

    // The open output's timeline moves on by `units`, in periods of `period`:
    // each period takes the commands posted, then renders its events.
    void advance(uint64_t units, uint64_t period = 64);
    uint64_t now() const { return time; }

    // Feeds an input port opened on device `id` as the platform thread would.
    void receive_short(unsigned id, uint32_t word, uint32_t time_ms);
    void receive_long(unsigned id, const std::vector<unsigned char>& bytes, uint32_t time_ms);

    unsigned out_count() override { return unsigned(out_devices.size()); }
    bool out_name(unsigned id, std::string& name) override { return name_of(out_devices, id, name); }
    std::unique_ptr<midi_driver_t> out_open(unsigned id) override;

    unsigned in_count() override { return unsigned(in_devices.size()); }
    bool in_name(unsigned id, std::string& name) override { return name_of(in_devices, id, name); }
    void* in_open(unsigned id, const in_events_t& events) override;
    int in_start(void* handle) override;
    int in_stop(void* handle) override;
    int in_close(void* handle) override;

private:
    class driver_t;
    struct in_port_t { unsigned id; in_events_t events; bool started; };
    static bool name_of(const std::vector<std::string>& names, unsigned id, std::string& name)
    {
        return id < names.size() && (name = names[id], true);
    }
    std::vector<in_port_t*> open_inputs;
    driver_t* output = nullptr;   // the open output's driver, if any
    uint64_t time = 0;
};
