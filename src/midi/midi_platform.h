// The few operations the MIDI ports need from the platform's MIDI service.
// The program runs on RtMidi and its own JACK client; tests swap in an
// in-memory platform.
#pragma once

#include "midi_driver.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct midi_in_platform_callback_t;

class midi_platform_t {
public:
    virtual ~midi_platform_t();

    // Output devices.
    virtual unsigned out_count() = 0;
    virtual bool out_name(unsigned id, std::string& name) = 0;     // false: cannot describe
    // A running driver for the device; null when it refuses to open.
    virtual std::unique_ptr<midi_driver_t> out_open(unsigned id) = 0;

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

// The program's own platform. With `jack_through_rtmidi`, JACK ports are
// served like every other service (RtMidi's output and a sender thread)
// instead of by the program's own JACK client: for benchmarks only.
std::unique_ptr<midi_platform_t> make_rtmidi_platform(bool jack_through_rtmidi);
