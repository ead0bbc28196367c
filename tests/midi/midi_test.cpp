#include "midi_memory_platform.h"
#include "midi_out.h"

#include <gtest/gtest.h>

#include <iostream>
#include <memory>
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
    struct { const char* arg; const char* name; unsigned id; } cases[] = {
        {"2", nullptr, 2}, {"0x10", nullptr, 16}, {"-", nullptr, 0xFFFFFFFFu},
        {"-1", nullptr, 0xFFFFFFFEu}, {"-3", nullptr, 0xFFFFFFFCu}, {"-0", nullptr, 0xFFFFFFFFu},
        {"08", "08", 0}, {"Synth", "Synth", 77}, {"2a", "2a", 2},
    };
    for (const auto& c : cases) {
        const char* name = "unset";
        unsigned id = 77;
        parse_device_arg(name, id, c.arg);
        EXPECT_EQ(name ? std::string(name) : "(null)", c.name ? c.name : "(null)") << c.arg;
        if (!c.name || c.name[0] != 'S') {
            EXPECT_EQ(id, c.id) << c.arg;
        }
    }
}

TEST(MidiOut, OpeningAndItsErrors)
{
    struct {
        const char* what; std::vector<std::string> devices; int fail_name_at; bool fail_open;
        bool by_name; unsigned id; const char* name; bool ok; const char* port_name; const char* err;
    } cases[] = {
        {"number past the end", {"A", "B", "C"}, -1, false, false, 3, "", false, "", "3>= 3: devid over.\n"},
        {"negative number", {"A", "B", "C"}, -1, false, false, 0xFFFFFFFFu, "", false, "", "-1>= 3: devid over.\n"},
        {"by number", {"A", "B", "C"}, -1, false, false, 1, "", true, "B", ""},
        {"describing fails", {"A", "B"}, 0, false, false, 1, "", false, "", "0: GetDevCaps() error.\n"},
        {"open refused", {"A", "B"}, -1, true, false, 1, "", false, "B", "DeviceID=1: can't open MIDI device.\n"},
        {"first name match", {"USB Port 1", "USB Port 2"}, -1, false, true, 0, "Port", true, "USB Port 1", ""},
        {"empty name", {"X", "Y"}, -1, false, true, 0, "", true, "X", ""},
        {"no devices", {}, -1, false, true, 0, "Port", false, "", "Port: device name not found.\n"},
        {"name open refused", {"X", "Y"}, -1, true, true, 0, "Y", false, "Y", "DeviceID=1: can't open MIDI device.\n"},
    };
    for (const auto& c : cases) {
        midi_memory_platform_t platform;
        platform.out_devices = c.devices;
        platform.fail_name_at = c.fail_name_at;
        platform.fail_open = c.fail_open;
        std::unique_ptr<midi_out_t> port(create_midi_out());
        cerr_capture_t err;
        bool ok = c.by_name ? port->open(c.name) : port->open(c.id);
        EXPECT_EQ(ok, c.ok) << c.what;
        EXPECT_EQ(port->is_opened(), c.ok) << c.what;
        EXPECT_EQ(err.text.str(), c.err) << c.what;
        if (c.ok) {
            EXPECT_EQ(port->name, c.port_name) << c.what;
        }
    }
}

TEST(MidiOut, PortLifecycle)
{
    midi_memory_platform_t platform;
    platform.out_devices = {"A", "B"};
    std::unique_ptr<midi_out_t> port(create_midi_out());
    cerr_capture_t err;
    const unsigned char sysex[11] = {0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x01, 0x00, 0x00, 0x5F, 0xF7};
    EXPECT_FALSE(port->putbuf(sysex, 11));
    EXPECT_EQ(err.text.str(), "putbuf(11): not opened.\n");
    ASSERT_TRUE(port->open(1u));
    EXPECT_FALSE(port->open(0u));            // a second open: silent, stays on the first device
    EXPECT_FALSE(port->open("A"));
    EXPECT_EQ(port->name, "B");
    EXPECT_TRUE(port->close());
    EXPECT_TRUE(port->close());
    EXPECT_EQ(platform.close_calls, 1);
    EXPECT_EQ(err.text.str(), "putbuf(11): not opened.\n");
}

TEST(MidiOut, Messages)
{
    midi_memory_platform_t platform;
    platform.out_devices = {"A"};
    std::unique_ptr<midi_out_t> port(create_midi_out());
    ASSERT_TRUE(port->open(0u));
    const unsigned char address[4] = {0x20, 0x01, 0x00, 0x00};
    const unsigned char raw[2] = {0x7E, 0x7F};
    struct { const char* what; bool (*send)(midi_out_t&, const unsigned char*, const unsigned char*); bytes_t bytes; } cases[] = {
        {"note on", [](midi_out_t& p, auto, auto) { return note_on(p, 9, 36, 127); }, {0x99, 0x24, 0x7F}},
        {"channel kept to 4 bits", [](midi_out_t& p, auto, auto) { return note_on(p, 25, 36, 127); }, {0x99, 0x24, 0x7F}},
        {"note off", [](midi_out_t& p, auto, auto) { return note_off(p, 0, 60); }, {0x90, 60, 0}},
        {"program", [](midi_out_t& p, auto, auto) { return program_change(p, 2, 5); }, {0xC2, 5}},
        {"effects", [](midi_out_t& p, auto, auto) { return effects1_depth(p, 1, 40); }, {0xB1, 91, 40}},
        {"all notes off", [](midi_out_t& p, auto, auto) { return all_notes_off(p, 3); }, {0xB3, 123, 0}},
        {"pitch bend", [](midi_out_t& p, auto, auto) { return pitch_bend(p, 0, 1, 2); }, {0xE0, 1, 2}},
        {"hold on", [](midi_out_t& p, auto, auto) { return hold_on(p, 0); }, {0xB0, 64, 64}},
        {"hold off", [](midi_out_t& p, auto, auto) { return hold_off(p, 0); }, {0xB0, 64, 0}},
        {"roland", [](midi_out_t& p, const unsigned char* a, auto) { return send_roland_sysex(p, 0x41, 0x10, 0x16, 0x12, a, 4); },
         {0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x01, 0x00, 0x00, 0x5F, 0xF7}},
        {"roland without data", [](midi_out_t& p, auto, auto) { return send_roland_sysex(p, 0x41, 0x10, 0x16, 0x12, nullptr, 0); },
         {0xF0, 0x41, 0x10, 0x16, 0x12, 0x00, 0xF7}},
        {"raw sysex", [](midi_out_t& p, auto, const unsigned char* r) { return send_sysex(p, r, 2); }, {0xF0, 0x7E, 0x7F, 0xF7}},
    };
    for (const auto& c : cases) {
        platform.sent.clear();
        EXPECT_TRUE(c.send(*port, address, raw)) << c.what;
        ASSERT_EQ(platform.sent.size(), 1u) << c.what;
        EXPECT_EQ(platform.sent[0].bytes, c.bytes) << c.what;
    }
    platform.fail_short = true;
    EXPECT_FALSE(note_on(*port, 9, 36, 127));
}

TEST(MidiOut, Listing)
{
    struct { std::vector<std::string> devices; int fail_at; bool ok; const char* out; const char* err; } cases[] = {
        {{"A", "B"}, -1, true, "\noutput devices:\n0: A\n1: B\n", ""},
        {{}, -1, true, "\noutput devices:\n", ""},
        {{"A", "B"}, 1, false, "\noutput devices:\n0: A\n", "1: GetDevCaps() error.\n"},
    };
    for (const auto& c : cases) {
        midi_memory_platform_t platform;
        platform.out_devices = c.devices;
        platform.fail_name_at = c.fail_at;
        std::ostringstream out;
        cerr_capture_t err;
        EXPECT_EQ(list_midi_out_devices(out), c.ok);
        EXPECT_EQ(out.str(), c.out);
        EXPECT_EQ(err.text.str(), c.err);
    }
}
