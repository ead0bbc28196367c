#include "midi_memory_platform.h"
#include "midi_out.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

namespace {

using bytes_t = std::vector<unsigned char>;

// Collects what the device layer writes on standard error.
struct cerr_capture_t {
    std::ostringstream text;
    std::streambuf* old = std::cerr.rdbuf(text.rdbuf());
    ~cerr_capture_t() { std::cerr.rdbuf(old); }
};

}  // namespace

TEST(MidiOut, ParseDeviceArg)
{
    // The caller's id starts at 77: a plain name leaves it alone.
    struct { const char* arg; const char* name; unsigned id; } cases[] = {
        {"2", nullptr, 2}, {"0x10", nullptr, 16}, {"-", nullptr, 0xFFFFFFFFu}, {"-1", nullptr, 0xFFFFFFFEu},
        {"08", "08", 0}, {"Synth", "Synth", 77}, {"2a", "2a", 2},
    };
    for (const auto& c : cases) {
        const char* name = "unset";
        unsigned id = 77;
        parse_device_arg(name, id, c.arg);
        EXPECT_STREQ(name, c.name) << c.arg;
        EXPECT_EQ(id, c.id) << c.arg;
    }
}

TEST(MidiOut, Opening)
{
    // By number when name is null. An empty port_name means the open fails.
    struct {
        std::vector<std::string> devices; const char* name; unsigned id; const char* port_name; const char* err;
    } cases[] = {
        {{"A", "B", "C"}, nullptr, 3, "", "3>= 3: devid over.\n"},
        {{"A", "B", "C"}, nullptr, 0xFFFFFFFFu, "", "-1>= 3: devid over.\n"},
        {{"Synth", "USB Port 1", "USB Port 2"}, "Port", 0, "USB Port 1", ""},
        {{"Synth", "USB Port 1"}, "", 0, "Synth", ""},
        {{"Synth"}, "Port", 0, "", "Port: device name not found.\n"},
    };
    for (const auto& c : cases) {
        midi_memory_platform_t platform;
        platform.out_devices = c.devices;
        midi_out_port_t port;
        cerr_capture_t err;
        EXPECT_EQ(c.name ? port.open(c.name) : port.open(c.id), *c.port_name != '\0') << c.port_name << c.err;
        EXPECT_EQ(port.name, c.port_name) << c.err;
        EXPECT_EQ(err.text.str(), c.err);
    }
}

TEST(MidiOut, PortLifeAndMessages)
{
    midi_memory_platform_t platform;
    platform.out_devices = {"A", "B"};
    std::ostringstream listing;
    EXPECT_TRUE(list_midi_out_devices(listing));
    EXPECT_EQ(listing.str(), "\noutput devices:\n0: A\n1: B\n");

    midi_out_port_t port;
    cerr_capture_t err;
    const unsigned char address[4] = {0x20, 0x01, 0x00, 0x00}, eleven[11] = {0xF0};
    EXPECT_FALSE(port.putbuf(eleven, 11));
    ASSERT_TRUE(port.open(1u));
    EXPECT_FALSE(port.open(0u));   // refused without a word, the first device stays
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
    EXPECT_EQ(err.text.str(), "putbuf(11): not opened.\n");   // and nothing else
}
