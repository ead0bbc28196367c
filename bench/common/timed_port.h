// A MIDI output port that passes everything on to the real one and notes
// when the messages a benchmark follows left the player.
#pragma once

#include "midi_out.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

class timed_out_t : public midi_out_t {
public:
    // Which messages to time.
    using follow_t = std::function<bool(const unsigned char* buf, size_t len)>;

    timed_out_t(midi_out_t* port, follow_t follow) : port(port), follow(std::move(follow)) {}
    bool is_opened() const override { return port->is_opened(); }
    bool open(unsigned id) override { return port->open(id); }
    bool open(const char* name) override { return port->open(name); }
    bool close() override { return port->close(); }
    bool putbuf(const unsigned char* buf, size_t len) override
    {
        if (recording && follow(buf, len)) sent_us.push_back(now_us());
        return port->putbuf(buf, len);
    }

    static double now_us()
    {
        using namespace std::chrono;
        return duration<double, std::micro>(steady_clock::now().time_since_epoch()).count();
    }

    std::unique_ptr<midi_out_t> port;
    follow_t follow;
    bool recording = true;
    std::vector<double> sent_us;   // steady clock, microseconds
};
