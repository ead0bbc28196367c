// The MIDI ports on the in-memory platform: the device argument, opening,
// the messages written, input with System Exclusive in pieces, and the pair.
#include "midi_in.h"
#include "midi_memory_platform.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

namespace {

using bytes_t = std::vector<unsigned char>;
using strings_t = std::vector<std::string>;

// What the device layer writes on standard output and standard error.
struct streams_capture_t {
    std::ostringstream out, err;
    std::streambuf* old_out = std::cout.rdbuf(out.rdbuf());
    std::streambuf* old_err = std::cerr.rdbuf(err.rdbuf());
    ~streams_capture_t() { std::cout.rdbuf(old_out), std::cerr.rdbuf(old_err); }
};

// Everything a listener hears, in order, with the System Exclusive bytes joined.
struct recorder_t {
    strings_t events;
    bytes_t sysex;
    static void log(void* u, const std::string& e) { static_cast<recorder_t*>(u)->events.push_back(e); }
    midi_in_listener_t listener{
        this, [](void* u, uint32_t) { log(u, "open"); }, [](void* u, uint32_t) { log(u, "close"); },
        [](void* u, uint32_t msg, uint32_t time) { log(u, "data " + std::to_string(msg) + " @" + std::to_string(time)); },
        [](void* u, const unsigned char* data, uint32_t len, uint32_t time) {
            log(u, "long " + std::to_string(len) + " @" + std::to_string(time));
            static_cast<recorder_t*>(u)->sysex.insert(static_cast<recorder_t*>(u)->sysex.end(), data, data + len);
        }};
};

}  // namespace

// A number picks a device by its place, saturating past 32 bits so that it
// is never device 0; anything else names one. The caller's id starts at 77:
// a plain name leaves it alone.
TEST(MidiOut, ParseDeviceArg)
{
    struct { const char* arg; const char* name; unsigned id; } cases[] = {
        {"2", nullptr, 2}, {"0x10", nullptr, 16}, {"-", nullptr, 0xFFFFFFFFu}, {"-1", nullptr, 0xFFFFFFFEu},
        {"4294967296", nullptr, 0x7FFFFFFFu}, {"08", "08", 0}, {"Synth", "Synth", 77}, {"2a", "2a", 2},
    };
    for (const auto& c : cases) {
        const char* name = "unset";
        unsigned id = 77;
        parse_device_arg(name, id, c.arg);
        EXPECT_STREQ(name, c.name) << c.arg;
        EXPECT_EQ(id, c.id) << c.arg;
    }
}

// Opening by number (name null) or by part of a name: the device's name, or
// the device layer's reason on standard error. An input that opened but
// would not start is closed again, or it leaks.
TEST(MidiPorts, Opening)
{
    struct {
        std::vector<std::string> devices; const char* name; unsigned id; const char* port_name; const char* err;
    } outputs[] = {
        {{"A", "B", "C"}, nullptr, 3, "", "3>= 3: devid over.\n"},
        {{"A", "B", "C"}, nullptr, 0xFFFFFFFFu, "", "-1>= 3: devid over.\n"},
        {{"Synth", "USB Port 1", "USB Port 2"}, "Port", 0, "USB Port 1", ""},
        {{"Synth", "USB Port 1"}, "", 0, "Synth", ""},
        {{"Synth"}, "Port", 0, "", "Port: device name not found.\n"},
    };
    for (const auto& c : outputs) {
        midi_memory_platform_t platform;
        platform.out_devices = c.devices;
        midi_out_port_t port;
        streams_capture_t io;
        EXPECT_EQ(c.name ? port.open(c.name) : port.open(c.id), *c.port_name != '\0') << c.port_name << c.err;
        EXPECT_EQ(port.name, c.port_name) << c.err;
        EXPECT_EQ(io.err.str(), c.err);
    }
    struct { const char* name; unsigned id; int fail_start; bool ok; const char* out; const char* err; } inputs[] = {
        {nullptr, 2, 0, false, "", "2>= 2: devid over.\n"},
        {"MIDI", 0, 0, true, "select device: 0: X MIDI In\n", ""},
        {nullptr, 1, 7, false, "select device: 1: Y MIDI In\n", "7: can't start MIDI in.\n"},
    };
    for (const auto& c : inputs) {
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

// The device list; a second open refused without a word; the messages'
// bytes; a refused message; closing twice closes once.
TEST(MidiOut, PortLifeAndMessages)
{
    midi_memory_platform_t platform;
    platform.out_devices = {"A", "B"};
    std::ostringstream listing;
    EXPECT_TRUE(list_midi_out_devices(listing));
    EXPECT_EQ(listing.str(), "\noutput devices:\n0: A\n1: B\n");

    midi_out_port_t port;
    streams_capture_t io;
    const unsigned char address[4] = {0x20, 0x01, 0x00, 0x00}, eleven[11] = {0xF0};
    EXPECT_FALSE(port.putbuf(eleven, 11));
    ASSERT_TRUE(port.open(1u));
    EXPECT_FALSE(port.open(0u));
    EXPECT_FALSE(port.open("A"));
    EXPECT_EQ(port.name, "B");

    EXPECT_TRUE(note_on(port, 9, 36, 127));
    EXPECT_TRUE(note_on(port, 0x29, 36, 127));   // only the channel's low four bits count
    EXPECT_TRUE(program_change(port, 2, 5));
    EXPECT_TRUE(send_roland_sysex(port, 0x41, 0x10, 0x16, 0x12, address, 4));
    EXPECT_TRUE(send_roland_sysex(port, 0x41, 0x10, 0x16, 0x12, nullptr, 0));
    EXPECT_TRUE(send_sysex(port, address, 2));   // four bytes, yet never a short message
    std::vector<bytes_t> sent;
    for (const auto& m : platform.sent) sent.push_back(m.bytes);
    EXPECT_EQ(sent, (std::vector<bytes_t>{{0x99, 0x24, 0x7F}, {0x99, 0x24, 0x7F}, {0xC2, 5},
                                          {0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x01, 0x00, 0x00, 0x5F, 0xF7},
                                          {0xF0, 0x41, 0x10, 0x16, 0x12, 0x00, 0xF7}, {0xF0, 0x20, 0x01, 0xF7}}));
    platform.fail_short = true;
    EXPECT_FALSE(note_on(port, 9, 36, 127));

    EXPECT_TRUE(port.close());
    EXPECT_TRUE(port.close());
    EXPECT_EQ(platform.close_calls, 1);
    EXPECT_EQ(io.err.str(), "putbuf(11): not opened.\n");   // and nothing else
}

// An input port hears short messages with their times and System Exclusive
// in pieces no longer than its buffer, nothing once closed; without a
// listener, or with one without callbacks, events are dropped.
TEST(MidiIn, PortLife)
{
    const bytes_t sysex10 = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x41, 0xF7};
    bytes_t sysex300(300);
    for (int i = 0; i < 300; ++i) sysex300[i] = static_cast<unsigned char>(i);
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

    midi_in_listener_t empty;
    for (midi_in_listener_t* listener : {&empty, static_cast<midi_in_listener_t*>(nullptr)}) {
        ASSERT_TRUE(port.open(0u, listener));
        platform.receive_short(0, 0x90, 1);
        platform.receive_long(0, sysex10, 2);
        EXPECT_TRUE(port.close());
    }
}

// The input's failure to close is the pair's, and the output closes all the same.
TEST(MidiIn, PairClosesBoth)
{
    midi_memory_platform_t platform;
    platform.in_devices = {"Keys"};
    platform.out_devices = {"Synth"};
    midi_port_pair_t pair;
    streams_capture_t io;
    ASSERT_TRUE(pair.in->open(0u, nullptr) && pair.out->open(0u));
    platform.fail_close = 3;
    EXPECT_FALSE(pair.close_both());
    EXPECT_FALSE(pair.in->is_opened() || pair.out->is_opened());
    EXPECT_TRUE(pair.close_both());   // both already closed
}
