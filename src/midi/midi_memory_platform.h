// An in-memory MIDI platform for tests: devices are names a test sets, any
// step can be made to fail, and every byte sent is kept.
#pragma once

#include "midi_platform.h"

#include <vector>

class midi_memory_platform_t : public midi_platform_t {
public:
    struct message_t {
        unsigned device;
        std::vector<unsigned char> bytes;   // short messages at their exact length
    };

    std::vector<std::string> out_devices;
    std::vector<std::string> in_devices;
    int fail_name_at = -1;        // describing this device number fails
    bool fail_open = false;       // opening any device fails
    bool fail_short = false;      // short messages are refused
    int fail_start = 0;           // error codes of the input steps; 0 succeeds
    int fail_stop = 0;
    int fail_close = 0;
    // Delivered as a long message while input stops, as a service that returns
    // its buffer on reset would.
    std::vector<unsigned char> long_on_stop;
    int close_calls = 0;

    std::vector<message_t> sent;  // every message, in order

    // Installs itself as the platform for its lifetime.
    midi_memory_platform_t();
    ~midi_memory_platform_t() override;

    // Feeds an input port opened on device `id` as the platform thread would.
    void receive_short(unsigned id, uint32_t word, uint32_t time_ms);
    void receive_long(unsigned id, const std::vector<unsigned char>& bytes, uint32_t time_ms);

    unsigned out_count() override;
    bool out_name(unsigned id, std::string& name) override;
    void* out_open(unsigned id) override;
    bool out_short(void* handle, uint32_t word) override;
    void out_long(void* handle, const unsigned char* buf, size_t len) override;
    bool out_close(void* handle) override;

    unsigned in_count() override;
    bool in_name(unsigned id, std::string& name) override;
    void* in_open(unsigned id, const in_events_t& events) override;
    int in_start(void* handle) override;
    int in_stop(void* handle) override;
    int in_close(void* handle) override;

private:
    struct in_port_t { unsigned id; in_events_t events; bool started; };
    std::vector<in_port_t*> open_inputs;
};
