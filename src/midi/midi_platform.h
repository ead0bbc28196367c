// The few operations the MIDI ports need from the platform's MIDI service.
// The program runs on RtMidi; tests swap in midi_memory_platform_t.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct midi_in_platform_callback_t;

class midi_platform_t {
public:
    virtual ~midi_platform_t();

    // Output devices.
    virtual unsigned out_count() = 0;
    virtual bool out_name(unsigned id, std::string& name) = 0;     // false: cannot describe
    virtual void* out_open(unsigned id) = 0;                        // null: refused
    virtual bool out_short(void* handle, uint32_t word) = 0;        // status in the low byte
    virtual void out_long(void* handle, const unsigned char* buf, size_t len) = 0;
    virtual bool out_close(void* handle) = 0;

    // Input devices. Callbacks run on the platform's own thread.
    struct in_events_t {
        void* user;
        void (*on_open)(void* user);
        void (*on_close)(void* user);
        void (*on_short)(void* user, uint32_t word, uint32_t time_ms);
        void (*on_long)(void* user, const unsigned char* data, size_t len, uint32_t time_ms);
    };
    virtual unsigned in_count() = 0;
    virtual bool in_name(unsigned id, std::string& name) = 0;
    virtual void* in_open(unsigned id, const in_events_t& events) = 0;  // null: refused
    virtual int in_start(void* handle) = 0;                            // 0 or an error code
    virtual int in_stop(void* handle) = 0;
    virtual int in_close(void* handle) = 0;
};

// The length of a short message from its status byte.
inline size_t midi_short_length(unsigned char status)
{
    if (status >= 0xF0) return status == 0xF2 ? 3 : (status == 0xF1 || status == 0xF3) ? 2 : 1;
    return (status & 0xE0) == 0xC0 ? 2 : 3;
}

// The platform every port uses. Defaults to RtMidi; a test may install its own
// (not owned) and pass nullptr to return to the default.
midi_platform_t& midi_platform();
void set_midi_platform(midi_platform_t* platform);
