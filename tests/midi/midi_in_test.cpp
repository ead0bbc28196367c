#include "midi_in.h"
#include "midi_memory_platform.h"

#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using bytes_t = std::vector<unsigned char>;

// Standard output and standard error of the device layer.
struct streams_capture_t {
    std::ostringstream out, err;
    std::streambuf* old_out = std::cout.rdbuf(out.rdbuf());
    std::streambuf* old_err = std::cerr.rdbuf(err.rdbuf());
    ~streams_capture_t()
    {
        std::cout.rdbuf(old_out);
        std::cerr.rdbuf(old_err);
    }
};

// Everything a listener hears, in order.
struct recorder_t {
    std::vector<std::string> events;
    std::vector<bytes_t> long_data;
    midi_in_listener_t listener{this, on_open, on_close, on_data, on_long};

    static recorder_t& of(void* user) { return *static_cast<recorder_t*>(user); }
    static void on_open(void* u, uint32_t) { of(u).events.push_back("open"); }
    static void on_close(void* u, uint32_t) { of(u).events.push_back("close"); }
    static void on_data(void* u, uint32_t msg, uint32_t time)
    {
        std::ostringstream s;
        s << "data " << std::hex << msg << std::dec << " @" << time;
        of(u).events.push_back(s.str());
    }
    static void on_long(void* u, const unsigned char* data, uint32_t len, uint32_t time)
    {
        of(u).events.push_back("long " + std::to_string(len) + " @" + std::to_string(time));
        of(u).long_data.emplace_back(data, data + len);
    }
};

}  // namespace

TEST(MidiIn, OpeningAndItsErrors)
{
    struct {
        const char* what; std::vector<std::string> devices; int fail_name_at; bool fail_open; int fail_start;
        const char* name; unsigned id; bool ok; const char* out; const char* err; int closes;
    } cases[] = {
        {"number past the end", {"A", "B"}, -1, false, 0, nullptr, 5, false, "", "5>= 2: devid over.\n", 0},
        {"no devices", {}, -1, false, 0, nullptr, 0, false, "", "0>= 0: devid over.\n", 0},
        {"by number", {"A", "B"}, -1, false, 0, nullptr, 1, true, "select device: 1: B\n", "", 0},
        {"the walk describes every device", {"A", "B", "C"}, 2, false, 0, nullptr, 0, false, "",
         "2: GetDevCaps() error.\n", 0},
        {"first name match", {"X MIDI In", "Y MIDI In"}, -1, false, 0, "MIDI", 0, true,
         "select device: 0: X MIDI In\n", "", 0},
        {"name is case-sensitive", {"X MIDI In"}, -1, false, 0, "midi", 0, false, "",
         "midi: device name not found.\n", 0},
        {"open refused", {"A", "B"}, -1, true, 0, "B", 0, false, "select device: 1: B\n",
         "DeviceID=1: can't open MIDI device.\n", 0},
        {"start fails and the device is closed again", {"A"}, -1, false, 7, nullptr, 0, false,
         "select device: 0: A\n", "7: can't start MIDI in.\n", 1},
    };
    for (const auto& c : cases) {
        midi_memory_platform_t platform;
        platform.in_devices = c.devices;
        platform.fail_name_at = c.fail_name_at;
        platform.fail_open = c.fail_open;
        platform.fail_start = c.fail_start;
        recorder_t rec;
        std::unique_ptr<midi_in_t> port(create_midi_in());
        streams_capture_t io;
        bool ok = c.name ? port->open(c.name, &rec.listener) : port->open(c.id, &rec.listener);
        EXPECT_EQ(ok, c.ok) << c.what;
        EXPECT_EQ(port->is_opened(), c.ok) << c.what;
        EXPECT_EQ(io.out.str(), c.out) << c.what;
        EXPECT_EQ(io.err.str(), c.err) << c.what;
        EXPECT_EQ(platform.close_calls, c.closes) << c.what;
    }
}

TEST(MidiIn, SecondOpenAndClosing)
{
    midi_memory_platform_t platform;
    platform.in_devices = {"A", "B"};
    recorder_t rec;
    midi_in_port_t port;
    streams_capture_t io;
    ASSERT_TRUE(port.open(0u, &rec.listener));
    EXPECT_FALSE(port.open(1u, &rec.listener));
    EXPECT_FALSE(port.open("B", &rec.listener));
    EXPECT_EQ(port.name, "A");
    EXPECT_EQ(port.device_id, 0u);
    EXPECT_TRUE(port.close());
    EXPECT_TRUE(port.close());
    EXPECT_EQ(rec.events, (std::vector<std::string>{"open", "close"}));
    EXPECT_EQ(io.err.str(), "");

    // Every closing step runs and reports, and the port ends closed.
    platform.fail_stop = 11;
    platform.fail_close = 12;
    ASSERT_TRUE(port.open("B", &rec.listener));
    EXPECT_FALSE(port.close());
    EXPECT_FALSE(port.is_opened());
    EXPECT_EQ(io.err.str(), "11: can't stop MIDI in.\n12: can't close MIDI in.\n");
    EXPECT_TRUE(port.close());
}

TEST(MidiIn, IncomingMessages)
{
    bytes_t sysex10 = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x41, 0xF7};
    bytes_t sysex300(300, 0x11);
    sysex300.front() = 0xF0;
    sysex300.back() = 0xF7;

    midi_memory_platform_t platform;
    platform.in_devices = {"In"};
    recorder_t rec;
    midi_in_port_t port;
    streams_capture_t io;
    ASSERT_TRUE(port.open(0u, &rec.listener));
    platform.receive_short(0, 0x7F2499, 15);
    platform.receive_long(0, sysex10, 20);
    EXPECT_EQ(port.header.bytes_recorded, 0u) << "the buffer goes back, ready for the next message";
    EXPECT_EQ(port.header.data, port.sysex_buffer);
    EXPECT_EQ(port.header.buffer_length, 128u);
    platform.receive_long(0, sysex300, 30);
    ASSERT_EQ(rec.long_data.size(), 4u);
    EXPECT_EQ(rec.long_data[0], sysex10);
    bytes_t joined;
    for (size_t i = 1; i < 4; ++i) joined.insert(joined.end(), rec.long_data[i].begin(), rec.long_data[i].end());
    EXPECT_EQ(joined, sysex300);
    EXPECT_EQ(rec.events, (std::vector<std::string>{"open", "data 7f2499 @15", "long 10 @20", "long 128 @30",
                                                    "long 128 @30", "long 44 @30"}));

    // A message the service returns while input stops reaches the listener,
    // and the buffer stays with the port.
    platform.long_on_stop = {0xF0, 0x01, 0x02};
    EXPECT_TRUE(port.close());
    EXPECT_EQ(rec.events.back(), "close");
    EXPECT_EQ(rec.events[rec.events.size() - 2], "long 3 @0");
    EXPECT_EQ(port.header.bytes_recorded, 3u);

    // A return with nothing recorded is not passed on; nothing arrives after close.
    platform.long_on_stop.clear();
    ASSERT_TRUE(port.open(0u, &rec.listener));
    size_t before = rec.events.size();
    EXPECT_TRUE(port.close());
    platform.receive_short(0, 0x90, 1);
    EXPECT_EQ(rec.events.size(), before + 1);

    // No listener, or one with no callbacks: events are dropped.
    midi_in_listener_t empty;
    ASSERT_TRUE(port.open(0u, &empty));
    platform.receive_short(0, 0x90, 1);
    platform.receive_long(0, sysex10, 2);
    EXPECT_TRUE(port.close());
    ASSERT_TRUE(port.open(0u, nullptr));
    platform.receive_short(0, 0x90, 1);
    EXPECT_TRUE(port.close());
    EXPECT_EQ(io.err.str(), "");
}

TEST(MidiIn, ListingAndPair)
{
    midi_memory_platform_t platform;
    platform.in_devices = {"Keys", "Pads"};
    platform.out_devices = {"Synth"};
    std::ostringstream out;
    EXPECT_TRUE(list_midi_in_devices(out));
    EXPECT_EQ(out.str(), "\ninput devices:\n0: Keys\n1: Pads\n");
    platform.fail_name_at = 1;
    streams_capture_t io;
    std::ostringstream cut;
    EXPECT_FALSE(list_midi_in_devices(cut));
    EXPECT_EQ(cut.str(), "\ninput devices:\n0: Keys\n");
    EXPECT_EQ(io.err.str(), "1: GetDevCaps() error.\n");
    platform.fail_name_at = -1;

    midi_port_pair_t pair;
    ASSERT_TRUE(pair.in && pair.out);
    EXPECT_FALSE(pair.in->is_opened());
    EXPECT_TRUE(pair.close_both()) << "closing closed ports succeeds";
    ASSERT_TRUE(pair.in->open(0u, nullptr));
    platform.fail_close = 3;
    EXPECT_FALSE(pair.close_both()) << "the output was never opened: the input's result counts";
    EXPECT_EQ(pair.out->is_opened(), false);
    ASSERT_TRUE(pair.out->open(0u));
    platform.fail_close = 0;
    EXPECT_TRUE(pair.close_both());
    EXPECT_FALSE(pair.out->is_opened());
}
