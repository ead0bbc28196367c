// The RtMidi platform against the tests' private JACK server, with our probe
// as the instrument on the other end.
#include "midi_listener.h"
#include "probe_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

using strings_t = std::vector<std::string>;
using namespace std::chrono_literals;

size_t count_note(probe_process_t& probe, unsigned char note)
{
    const auto events = probe.events();
    return std::count_if(events.begin(), events.end(), [&](auto& e) { return e.bytes.size() == 3 && e.bytes[1] == note; });
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
// by number sends messages of each length as they are (their bytes are held
// in midi_test); an input hears what the probe sends. The device's port
// vanishing then fails the output with the reason, and sending is refused
// without a word on the console.
TEST(MidiJack, TrafficWithTheProbe)
{
    probe_process_t probe;
    ASSERT_TRUE(probe.wait_ready());
    std::ostringstream listing;
    ASSERT_TRUE(list_midi_out_devices(listing));
    const std::string list = listing.str();
    EXPECT_EQ(list.find(": probe:out\n"), std::string::npos) << "the probe's output is no output device";
    const size_t at = list.find(": probe:in\n");
    ASSERT_NE(at, std::string::npos) << list;

    midi_out_port_t out;
    ASSERT_TRUE(out.open(unsigned(std::stoi(list.substr(list.rfind('\n', at) + 1)))));
    EXPECT_EQ(out.name, "probe:in");
    ASSERT_TRUE(until_heard(out, probe));
    const unsigned char display[4] = {0x20, 0x01, 0x00, 0x00};
    EXPECT_TRUE(send_roland_sysex(out, 0x41, 0x10, 0x16, 0x12, display, 4));
    EXPECT_TRUE(program_change(out, 9, 5));
    EXPECT_TRUE(note_on(out, 9, 36, 127));
    for (int i = 0; i < 500 && count_note(probe, 36) < 1; ++i) std::this_thread::sleep_for(10ms);
    strings_t got = hex_of(probe.events());
    got.erase(std::remove(got.begin(), got.end(), "99 29 01"), got.end());   // until_heard's notes
    EXPECT_EQ(got, (strings_t{"f0 41 10 16 12 20 01 00 00 5f f7", "c9 05", "99 24 7f"}));

    listener_log_t input(false);
    streams_capture_t io;
    midi_in_port_t port;
    ASSERT_TRUE(port.open("probe", &input.listener));
    EXPECT_EQ(port.name, "probe:out");
    std::this_thread::sleep_for(50ms);   // connected when open returns, but give JACK a period
    ASSERT_TRUE(probe.send({0x99, 0x24, 0x7F}));
    ASSERT_TRUE(probe.send({0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x00, 0x00, 0x60, 0xF7}));
    for (int i = 0; i < 250 && input.heard().size() < 3; ++i) std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(port.close());
    EXPECT_EQ(input.heard(), (strings_t{"open", "data " + std::to_string(0x7F2499), "long 10", "close"}));
    EXPECT_EQ(input.sysex, (std::vector<unsigned char>{0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x00, 0x00, 0x60, 0xF7}));

    std::string reason;
    EXPECT_FALSE(out.driver()->failed(reason));
    EXPECT_TRUE(probe.stop());
    for (int i = 0; i < 200 && !out.driver()->failed(reason); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(reason, "probe:in: port disconnected.");
    EXPECT_FALSE(note_on(out, 9, 36, 127));
    EXPECT_EQ(io.err.str(), "");
}

// Opening, sending, closing and deleting ports again and again is clean (no
// crash, every open works and is heard), also with two outputs open at once
// and with the peer sending while an input port closes.
TEST(MidiJack, ManyPortLifetimes)
{
    probe_process_t probe;
    ASSERT_TRUE(probe.wait_ready());
    listener_log_t in_got(false);
    streams_capture_t io;
    std::atomic<bool> sending{true};
    std::thread sender([&] {
        for (; sending; std::this_thread::sleep_for(300us)) probe.send({0x99, 0x2A, 0x40});
    });
    for (int i = 0; i < 60; ++i) {
        midi_port_pair_t pair;
        midi_out_port_t second;   // now and then two outputs at once
        if (!pair.in->open("probe:out", &in_got.listener) || !pair.out->open("probe:in") ||
            !(i % 10 || second.open("probe:in")) || !until_heard(*pair.out, probe)) {
            ADD_FAILURE() << "turn " << i;
            break;   // the sender must still be stopped and joined
        }
        EXPECT_TRUE(i % 2 == 0 || pair.close_both());   // the others close as they are deleted
    }
    sending = false;
    sender.join();
    const strings_t heard = in_got.heard();
    EXPECT_EQ(std::count(heard.begin(), heard.end(), "open"), 60);
    EXPECT_EQ(std::count(heard.begin(), heard.end(), "close"), 60);
    EXPECT_GT(heard.size(), 120u) << "messages heard between";
    EXPECT_TRUE(probe.stop()) << "the probe saw every client leave cleanly";
}
