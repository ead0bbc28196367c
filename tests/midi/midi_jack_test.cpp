// The RtMidi platform against the tests' private JACK server, with our probe
// as the instrument on the other end.
#include "midi_in.h"
#include "probe_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

using strings_t = std::vector<std::string>;
using namespace std::chrono_literals;

// The number a device listing gives `name`, or -1.
int number_in(bool (*list)(std::ostream&), const std::string& name)
{
    std::ostringstream out;
    list(out);
    size_t at = out.str().find(": " + name + "\n");
    return at == std::string::npos ? -1 : std::stoi(out.str().substr(out.str().rfind('\n', at) + 1));
}

// What an input port hears on JACK's thread, each message as the probe
// writes it; the "select device:" lines of its opens muted.
struct collector_t {
    std::mutex mutex;
    strings_t heard;
    std::atomic<int> opens{0}, closes{0}, count{0};
    std::ostringstream muted;
    std::streambuf* old = std::cout.rdbuf(muted.rdbuf());
    ~collector_t() { std::cout.rdbuf(old); }
    static void add(void* u, std::vector<unsigned char> bytes)
    {
        auto& self = *static_cast<collector_t*>(u);
        std::lock_guard<std::mutex> lock(self.mutex);
        self.heard.push_back(hex_of({{0, 0, bytes}})[0]);
        ++self.count;
    }
    midi_in_listener_t listener{
        this, [](void* u, uint32_t) { ++static_cast<collector_t*>(u)->opens; },
        [](void* u, uint32_t) { ++static_cast<collector_t*>(u)->closes; },
        [](void* u, uint32_t msg, uint32_t) { add(u, {uint8_t(msg), uint8_t(msg >> 8), uint8_t(msg >> 16)}); },
        [](void* u, const unsigned char* data, uint32_t len, uint32_t) { add(u, {data, data + len}); }};
};

size_t count_note(probe_process_t& probe, unsigned char note)
{
    const auto events = probe.events();
    return std::count_if(events.begin(), events.end(), [&](auto& e) { return e.bytes.size() == 3 && e.bytes[1] == note; });
}

void wait_for_note(probe_process_t& probe, unsigned char note, size_t n)
{
    for (int i = 0; i < 500 && count_note(probe, note) < n; ++i) std::this_thread::sleep_for(10ms);
}

// JACK makes a new connection effective some cycles after the request, later
// on a loaded machine, and what is sent before is lost. Sends note 41 until
// the probe hears it.
bool until_heard(midi_out_t& port, probe_process_t& probe)
{
    const size_t before = count_note(probe, 41);
    for (int i = 0; i < 400; ++i) {
        if (!note_on(port, 9, 41, 1)) return false;
        std::this_thread::sleep_for(5ms);
        if (count_note(probe, 41) > before) return true;
    }
    return false;
}

}  // namespace

// The probe's ports in the device lists, each on its side; an output opened
// by number and by part of a name sends each kind of message as it is; an
// input hears what the probe sends.
TEST(MidiJack, TrafficWithTheProbe)
{
    probe_process_t probe;
    ASSERT_TRUE(probe.wait_ready());
    int number = number_in(list_midi_out_devices, "probe:in");
    ASSERT_GE(number, 0);
    EXPECT_EQ(number_in(list_midi_out_devices, "probe:out"), -1) << "the probe's output is no output device";
    EXPECT_NE(number_in(list_midi_in_devices, "probe:out"), -1);

    midi_out_port_t by_number, by_name;
    ASSERT_TRUE(by_number.open(static_cast<unsigned>(number)));
    EXPECT_EQ(by_number.name, "probe:in");
    ASSERT_TRUE(until_heard(by_number, probe));
    EXPECT_TRUE(note_on(by_number, 9, 36, 127));
    EXPECT_TRUE(by_number.close());
    wait_for_note(probe, 36, 1);   // all of this port's notes heard before the next port's
    ASSERT_TRUE(by_name.open("obe:i"));
    ASSERT_TRUE(until_heard(by_name, probe));
    const unsigned char display[4] = {0x20, 0x01, 0x00, 0x00};
    EXPECT_TRUE(send_roland_sysex(by_name, 0x41, 0x10, 0x16, 0x12, display, 4));
    EXPECT_TRUE(program_change(by_name, 9, 5));
    EXPECT_TRUE(note_off(by_name, 9, 36));
    wait_for_note(probe, 36, 2);
    strings_t got = hex_of(probe.events());
    got.erase(std::remove(got.begin(), got.end(), "99 29 01"), got.end());   // until_heard's notes
    EXPECT_EQ(got, (strings_t{"99 24 7f", "f0 41 10 16 12 20 01 00 00 5f f7", "c9 05", "99 24 00"}));

    collector_t input;
    midi_in_port_t port;
    ASSERT_TRUE(port.open("probe", &input.listener));
    EXPECT_EQ(port.name, "probe:out");
    std::this_thread::sleep_for(50ms);   // connected when open returns, but give JACK a period
    ASSERT_TRUE(probe.send({0x99, 0x24, 0x7F}));
    ASSERT_TRUE(probe.send({0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x00, 0x00, 0x60, 0xF7}));
    for (int i = 0; i < 250 && input.count < 2; ++i) std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(port.close());
    EXPECT_EQ(input.heard, (strings_t{"99 24 7f", "f0 41 10 16 12 20 00 00 60 f7"}));
}

// Opening, sending, closing and deleting ports again and again is clean (no
// crash, every open works, the messages keep their order), also with two
// outputs open at once and with the peer sending while an input port closes.
TEST(MidiJack, ManyPortLifetimes)
{
    probe_process_t probe;
    ASSERT_TRUE(probe.wait_ready());
    std::vector<unsigned char> sent, got;
    for (int i = 0; i < 40; ++i) {
        midi_out_port_t port, second;   // both deleted at the end of the turn
        ASSERT_TRUE(port.open("probe:in")) << i;
        ASSERT_TRUE(i % 10 || second.open("probe:in")) << i;   // now and then two outputs at once
        ASSERT_TRUE(until_heard(port, probe)) << i;
        sent.push_back(static_cast<unsigned char>(1 + i % 127));
        EXPECT_TRUE(note_on(port, 9, 42, sent.back()));
        if (i % 2) {   // the others close as they are deleted
            EXPECT_TRUE(port.close());
            EXPECT_TRUE(port.close()) << "closing twice";
        }
    }
    wait_for_note(probe, 42, sent.size());
    for (const auto& ev : probe.events())
        if (ev.bytes.size() == 3 && ev.bytes[1] == 42) got.push_back(ev.bytes[2]);
    // Each close waits for JACK to take the port's last message. A server that
    // misses its deadlines under load may drop a few; it never reorders them.
    EXPECT_GE(got.size(), sent.size() - sent.size() / 50) << "messages lost at closing";
    size_t matched = 0;
    for (size_t k = 0; k < sent.size() && matched < got.size(); ++k) matched += sent[k] == got[matched];
    EXPECT_EQ(matched, got.size()) << "messages out of order";

    collector_t in_got;
    std::atomic<bool> sending{true};
    std::thread sender([&] {
        for (; sending; std::this_thread::sleep_for(300us)) probe.send({0x99, 0x2A, 0x40});
    });
    for (int i = 0; i < 60; ++i) {
        midi_port_pair_t pair;
        bool opened = pair.in->open("probe:out", &in_got.listener) && pair.out->open("probe:in");
        EXPECT_TRUE(opened) << i;
        if (!opened) break;   // the sender must still be stopped and joined
        std::this_thread::sleep_for(2ms);
        EXPECT_TRUE(pair.close_both());
    }
    sending = false;
    sender.join();
    EXPECT_EQ(in_got.opens, 60);
    EXPECT_EQ(in_got.closes, 60);
    EXPECT_GT(in_got.count, 0);
    EXPECT_TRUE(probe.stop()) << "the probe saw every client leave cleanly";
}

// The device's port vanishing fails the output with the reason, and sending
// then is refused without a word on the console.
TEST(MidiJack, PortGoneTellsWhy)
{
    probe_process_t probe("gone");
    ASSERT_TRUE(probe.wait_ready());
    midi_out_port_t port;
    ASSERT_TRUE(port.open("gone:in"));
    std::string reason;
    EXPECT_FALSE(port.driver()->failed(reason));
    EXPECT_TRUE(probe.stop());
    for (int i = 0; i < 200 && !port.driver()->failed(reason); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(reason, "gone:in: port disconnected.");
    EXPECT_FALSE(note_on(port, 9, 36, 127));
}
