#include "midi_in.h"
#include "midi_memory_platform.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using bytes_t = std::vector<unsigned char>;
using strings_t = std::vector<std::string>;

// Standard output and standard error of the device layer.
struct streams_capture_t {
    std::ostringstream out, err;
    std::streambuf* old_out = std::cout.rdbuf(out.rdbuf());
    std::streambuf* old_err = std::cerr.rdbuf(err.rdbuf());
    ~streams_capture_t() { std::cout.rdbuf(old_out); std::cerr.rdbuf(old_err); }
};

// Everything a listener hears, in order, with the System Exclusive bytes joined.
struct recorder_t {
    strings_t events;
    bytes_t sysex;
    static void log(void* u, const std::string& e) { static_cast<recorder_t*>(u)->events.push_back(e); }
    midi_in_listener_t listener{
        this, [](void* u, uint32_t) { log(u, "open"); }, [](void* u, uint32_t) { log(u, "close"); },
        [](void* u, uint32_t msg, uint32_t time) {
            log(u, "data " + std::to_string(msg) + " @" + std::to_string(time));
        },
        [](void* u, const unsigned char* data, uint32_t len, uint32_t time) {
            log(u, "long " + std::to_string(len) + " @" + std::to_string(time));
            bytes_t& sysex = static_cast<recorder_t*>(u)->sysex;
            sysex.insert(sysex.end(), data, data + len);
        }};
};

}  // namespace

TEST(MidiIn, Opening)
{
    // By number when name is null. A device that opened but would not start
    // must be closed again, or it leaks.
    struct { const char* name; unsigned id; int fail_start; bool ok; const char* out; const char* err; } cases[] = {
        {nullptr, 5, 0, false, "", "5>= 2: devid over.\n"},
        {nullptr, 2, 0, false, "", "2>= 2: devid over.\n"},
        {"MIDI", 0, 0, true, "select device: 0: X MIDI In\n", ""},
        {nullptr, 1, 7, false, "select device: 1: Y MIDI In\n", "7: can't start MIDI in.\n"},
    };
    for (const auto& c : cases) {
        midi_memory_platform_t platform;
        platform.in_devices = {"X MIDI In", "Y MIDI In"};
        platform.fail_start = c.fail_start;
        midi_in_port_t port;
        streams_capture_t io;
        EXPECT_EQ(c.name ? port.open(c.name, nullptr) : port.open(c.id, nullptr), c.ok) << c.out << c.err;
        EXPECT_EQ(port.is_opened(), c.ok) << c.out << c.err;
        EXPECT_EQ(io.out.str(), c.out);
        EXPECT_EQ(io.err.str(), c.err);
        EXPECT_EQ(platform.close_calls, c.fail_start ? 1 : 0) << c.err;
    }
}

TEST(MidiIn, PortLife)
{
    const bytes_t sysex10 = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x41, 0xF7};
    bytes_t sysex300;   // more than the port's buffer holds: it is handed on in pieces
    for (int i = 0; i < 300; ++i) sysex300.push_back(static_cast<unsigned char>(i));
    midi_memory_platform_t platform;
    platform.in_devices = {"A", "B"};
    recorder_t rec;
    midi_in_port_t port;
    streams_capture_t io;
    ASSERT_TRUE(port.open(1u, &rec.listener));
    EXPECT_FALSE(port.open(0u, &rec.listener));
    EXPECT_EQ(port.name, "B");
    platform.receive_short(1, 0x7F2499, 15);
    platform.receive_long(1, sysex10, 20);
    platform.receive_long(1, sysex300, 30);
    EXPECT_TRUE(port.close());
    EXPECT_TRUE(port.close());
    platform.receive_short(1, 0x90, 1);
    EXPECT_EQ(rec.events, (strings_t{"open", "data " + std::to_string(0x7F2499) + " @15", "long 10 @20", "long 128 @30",
                                     "long 128 @30", "long 44 @30", "close"}));
    bytes_t joined = sysex10;
    joined.insert(joined.end(), sysex300.begin(), sysex300.end());
    EXPECT_EQ(rec.sysex, joined);

    // Without a listener, or with one that has no callbacks, events are dropped.
    midi_in_listener_t empty;
    for (midi_in_listener_t* listener : {&empty, static_cast<midi_in_listener_t*>(nullptr)}) {
        ASSERT_TRUE(port.open(0u, listener));
        platform.receive_short(0, 0x90, 1);
        platform.receive_long(0, sysex10, 2);
        EXPECT_TRUE(port.close());
    }
}

TEST(MidiIn, PairClosesBoth)
{
    midi_memory_platform_t platform;
    platform.in_devices = {"Keys"};
    platform.out_devices = {"Synth"};
    midi_port_pair_t pair;
    streams_capture_t io;
    ASSERT_TRUE(pair.in->open(0u, nullptr) && pair.out->open(0u));
    platform.fail_close = 3;   // the input's failure is the pair's, and the output closes all the same
    EXPECT_FALSE(pair.close_both());
    EXPECT_FALSE(pair.in->is_opened() || pair.out->is_opened());
    EXPECT_TRUE(pair.close_both());   // both already closed
}
