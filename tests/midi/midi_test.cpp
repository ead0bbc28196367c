// The MIDI ports on the in-memory platform: the device argument, opening,
// the messages written, input with System Exclusive in pieces, and the pair;
// the sender thread against a recording sender: order, due times, what a
// stall drops, and a service that refuses.
#include "midi_listener.h"
#include "midi_memory_platform.h"
#include "midi_thread_driver.h"

#include <gtest/gtest.h>

#include <thread>

using bytes_t = std::vector<unsigned char>;
using strings_t = std::vector<std::string>;
using namespace std::chrono_literals;

// The sender and the source in one, owned by the driver. It writes down in
// order what it sends (the first byte) and the commands it takes. 0xFE hangs
// the sender 100 ms, 0xFD too and is then refused. From each command on, 4
// events 50 ms apart, the first 10 ms after the command, 16 and its number.
class recorder_t : public midi_sender_t, public midi_source_t {
public:
    bool send(const unsigned char* bytes, size_t) override
    {
        if (bytes[0] >= 0xFD) std::this_thread::sleep_for(100ms);
        if (bytes[0] != 0xFD) add("send " + std::to_string(bytes[0]));
        return bytes[0] != 0xFD;
    }
    void command(const unsigned char* data, size_t len, uint64_t time) override
    {
        add("command " + std::string(reinterpret_cast<const char*>(data), len));
        start = time + 10000000;
        next = 0;
    }
    void render(uint64_t from, uint64_t count, midi_sink_t& sink) override
    {
        for (; next < 4 && due() < from + count; ++next) {
            const unsigned char byte = static_cast<unsigned char>(16 + next);
            if (due() >= from) sink.write(due(), &byte, 1);   // passed unrendered: dropped
        }
    }
    uint64_t next_due(uint64_t) override { return next < 4 ? due() : midi_never; }
    uint64_t due() const { return start + next * 50000000; }
    void add(const std::string& line)
    {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
    }

    std::mutex mutex;
    std::vector<std::string> lines;
    uint64_t start = 0, next = 0;
};

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

// Opening an output or an input by number (name null) or by part of a
// name: the device's name, or the device layer's reason on standard error.
// An input that opened but would not start is closed again, or it leaks.
TEST(MidiPorts, Opening)
{
    struct { bool input; const char* name; unsigned id; int fail_start; bool opened; const char* port_name;
             const char* out; const char* err; } cases[] = {
        {false, nullptr, 3, 0, false, "", "", "3>= 3: devid over.\n"},
        {false, nullptr, 0xFFFFFFFFu, 0, false, "", "", "-1>= 3: devid over.\n"},
        {false, "Port", 0, 0, true, "USB Port 1", "", ""},
        {false, "", 0, 0, true, "Synth", "", ""},
        {false, "Keys", 0, 0, false, "", "", "Keys: device name not found.\n"},
        {true, nullptr, 3, 0, false, "", "", "3>= 3: devid over.\n"},
        {true, "Port", 0, 0, true, "USB Port 1", "select device: 1: USB Port 1\n", ""},
        {true, nullptr, 2, 7, false, "USB Port 2", "select device: 2: USB Port 2\n", "7: can't start MIDI in.\n"},
    };
    for (const auto& c : cases) {
        midi_memory_platform_t platform;
        platform.out_devices = platform.in_devices = {"Synth", "USB Port 1", "USB Port 2"};
        platform.fail_start = c.fail_start;
        midi_out_port_t out;
        midi_in_port_t in;
        streams_capture_t io;
        const bool opened = c.input ? (c.name ? in.open(c.name, nullptr) : in.open(c.id, nullptr))
                                    : (c.name ? out.open(c.name) : out.open(c.id));
        EXPECT_TRUE(opened == c.opened && (c.input ? in.is_opened() : out.is_opened()) == c.opened) << c.port_name << c.err;
        EXPECT_EQ(c.input ? in.name : out.name, c.port_name) << c.err;
        EXPECT_EQ(io.out.str(), c.out);
        EXPECT_EQ(io.err.str(), c.err);
        EXPECT_EQ(platform.close_calls, c.fail_start ? 1 : 0) << c.err;
    }
}

// The device lists; a second open refused without a word; the messages'
// bytes; a refused message. An input hears short messages with their times
// and System Exclusive in pieces no longer than its buffer (a message that
// fits in one is met in midi_jack_test), nothing once closed; without a
// listener, or with one without callbacks, events are dropped. Closing twice
// closes once. A pair's input failing to close fails the pair, and its
// output closes all the same.
TEST(MidiPorts, Lives)
{
    midi_memory_platform_t platform;
    platform.out_devices = platform.in_devices = {"A", "B"};
    std::ostringstream listing;
    EXPECT_TRUE(list_midi_out_devices(listing) && list_midi_in_devices(listing));
    EXPECT_EQ(listing.str(), "\noutput devices:\n0: A\n1: B\n\ninput devices:\n0: A\n1: B\n");

    midi_out_port_t out;
    streams_capture_t io;
    const unsigned char address[4] = {0x20, 0x01, 0x00, 0x00}, eleven[11] = {0xF0};
    EXPECT_FALSE(out.putbuf(eleven, 11));
    ASSERT_TRUE(out.open(1u));
    EXPECT_FALSE(out.open(0u) || out.open("A"));
    EXPECT_EQ(out.name, "B");
    EXPECT_TRUE(note_on(out, 0x29, 36, 127));   // only the channel's low four bits count
    EXPECT_TRUE(note_off(out, 9, 36));
    EXPECT_TRUE(program_change(out, 2, 5));
    EXPECT_TRUE(send_roland_sysex(out, 0x41, 0x10, 0x16, 0x12, address, 4));
    EXPECT_TRUE(send_roland_sysex(out, 0x41, 0x10, 0x16, 0x12, nullptr, 0));
    EXPECT_TRUE(send_sysex(out, address, 2));   // four bytes, yet never a short message
    std::vector<bytes_t> sent;
    for (const auto& m : platform.sent) sent.push_back(m.bytes);
    EXPECT_EQ(sent, (std::vector<bytes_t>{{0x99, 0x24, 0x7F}, {0x99, 0x24, 0x00}, {0xC2, 5},
                                          {0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x01, 0x00, 0x00, 0x5F, 0xF7},
                                          {0xF0, 0x41, 0x10, 0x16, 0x12, 0x00, 0xF7}, {0xF0, 0x20, 0x01, 0xF7}}));
    platform.fail_short = true;
    EXPECT_FALSE(note_on(out, 9, 36, 127));
    EXPECT_TRUE(out.close() && out.close());
    EXPECT_EQ(platform.close_calls, 1);

    bytes_t sysex300(300);   // pieces of 128, 128 and 44
    for (int i = 0; i < 300; ++i) sysex300[i] = static_cast<unsigned char>(i);
    listener_log_t rec(true);
    midi_in_port_t in;
    ASSERT_TRUE(in.open(1u, &rec.listener));
    EXPECT_FALSE(in.open(0u, &rec.listener));
    EXPECT_EQ(in.name, "B");
    platform.receive_short(1, 0x7F2499, 15);
    platform.receive_long(1, sysex300, 30);
    EXPECT_TRUE(in.close() && in.close());
    platform.receive_short(1, 0x90, 1);
    EXPECT_EQ(rec.events, (strings_t{"open", "data " + std::to_string(0x7F2499) + " @15", "long 128 @30", "long 128 @30",
                                     "long 44 @30", "close"}));
    EXPECT_EQ(rec.sysex, sysex300);
    midi_in_listener_t empty;
    for (midi_in_listener_t* listener : {&empty, static_cast<midi_in_listener_t*>(nullptr)}) {
        ASSERT_TRUE(in.open(0u, listener));
        platform.receive_short(0, 0x90, 1);
        platform.receive_long(0, sysex300, 2);
        EXPECT_TRUE(in.close());
    }

    midi_port_pair_t pair;
    ASSERT_TRUE(pair.in->open(0u, nullptr) && pair.out->open(0u));
    platform.fail_close = 3;
    EXPECT_FALSE(pair.close_both());
    EXPECT_FALSE(pair.in->is_opened() || pair.out->is_opened());
    EXPECT_TRUE(pair.close_both());   // both already closed
    EXPECT_EQ(io.err.str(), "putbuf(11): not opened.\n3: can't close MIDI in.\n");   // and nothing else
}

// Messages and commands go in the order given, events never before their
// due time; after the sender hangs 100 ms on the message sent before the
// command, the events more than 30 ms overdue are dropped. A message the
// service refuses fails the device with its name: nothing is sent from then
// on, and sending is refused.
TEST(MidiThreadDriver, OrderDueTimesStallsAndRefusal)
{
    const std::string refused = "Synth:in: the MIDI service refused a message.";
    struct { const char* what; unsigned char before; uint64_t late_limit; std::vector<std::string> lines;
             std::string failure; } cases[] = {
        {"every event at or after its due time", 0, 1000000000,
         {"send 1", "send 0", "command go", "send 2", "send 16", "send 17", "send 18", "send 19"}, ""},
        {"a stall drops what is overdue", 0xFE, 30000000,
         {"send 1", "send 254", "command go", "send 2", "send 18", "send 19"}, ""},
        {"a refused message fails the device", 0xFD, 1000000000, {"send 1", "command go"}, refused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto owned = std::make_unique<recorder_t>();
        recorder_t& recorder = *owned;
        midi_thread_driver_t d(std::move(owned), "Synth:in", c.late_limit);
        d.attach(&recorder);
        const unsigned char a = 1, b = 2;
        d.send(&a, 1);
        d.send(&c.before, 1);
        d.post(reinterpret_cast<const unsigned char*>("go"), 2);
        d.send(&b, 1);
        std::this_thread::sleep_for(300ms);
        d.attach(nullptr);
        EXPECT_EQ(recorder.lines, c.lines);
        for (int64_t late : d.lateness()) EXPECT_GE(late, 0) << "never early";
        std::string reason;
        EXPECT_EQ(d.failed(reason) ? reason : "", c.failure);
        EXPECT_EQ(d.send(&a, 1), c.failure.empty()) << "sending refused once failed";
    }
}
