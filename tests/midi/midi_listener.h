// What the MIDI tests share: the device layer's console lines kept aside,
// and a listener that writes down what an input port hears, from any thread.
#pragma once

#include "midi_in.h"

#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

// What the device layer writes on standard output and standard error.
struct streams_capture_t {
    std::ostringstream out, err;
    std::streambuf* old_out = std::cout.rdbuf(out.rdbuf());
    std::streambuf* old_err = std::cerr.rdbuf(err.rdbuf());
    ~streams_capture_t() { std::cout.rdbuf(old_out), std::cerr.rdbuf(old_err); }
};

// Everything a listener hears, in order: "open", "close", "data <word>" and
// "long <length>" for each piece of System Exclusive, whose bytes are joined;
// with " @<ms>", the message's time, unless the times are the clock's.
struct listener_log_t {
    explicit listener_log_t(bool with_times) : with_times(with_times) {}
    std::vector<std::string> heard()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return events;
    }
    static void add(void* u, std::string event, int64_t ms = -1, const unsigned char* data = nullptr, uint32_t len = 0)
    {
        auto* self = static_cast<listener_log_t*>(u);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->events.push_back(ms >= 0 && self->with_times ? event + " @" + std::to_string(ms) : event);
        self->sysex.insert(self->sysex.end(), data, data + len);
    }

    const bool with_times;
    std::mutex mutex;
    std::vector<std::string> events;
    std::vector<unsigned char> sysex;
    midi_in_listener_t listener{
        this, [](void* u, uint32_t) { add(u, "open"); }, [](void* u, uint32_t) { add(u, "close"); },
        [](void* u, uint32_t msg, uint32_t ms) { add(u, "data " + std::to_string(msg), ms); },
        [](void* u, const unsigned char* data, uint32_t len, uint32_t ms) {
            add(u, "long " + std::to_string(len), ms, data, len);
        }};
};
