// The RtMidi platform against the tests' private JACK server, with our probe
// as the instrument on the other end.
#include "midi_in.h"
#include "midi_out.h"
#include "probe_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using strings_t = std::vector<std::string>;

std::string out_listing()
{
    std::ostringstream out;
    list_midi_out_devices(out);
    return out.str();
}

std::string in_listing()
{
    std::ostringstream out;
    list_midi_in_devices(out);
    return out.str();
}

// The number a listing gives the line "<n>: <name>", or -1.
int number_in(const std::string& listing, const std::string& name)
{
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        size_t colon = line.find(": ");
        if (colon != std::string::npos && line.substr(colon + 2) == name) return std::stoi(line.substr(0, colon));
    }
    return -1;
}

// Mutes the "select device:" line of input opens.
struct quiet_cout_t {
    std::ostringstream text;
    std::streambuf* old = std::cout.rdbuf(text.rdbuf());
    ~quiet_cout_t() { std::cout.rdbuf(old); }
};

struct collector_t {
    std::mutex mutex;
    strings_t shorts;
    std::vector<std::vector<unsigned char>> longs;
    std::atomic<int> opens{0}, closes{0};
    midi_in_listener_t listener{this, on_open, on_close, on_data, on_long};

    static collector_t& of(void* u) { return *static_cast<collector_t*>(u); }
    static void on_open(void* u, uint32_t) { ++of(u).opens; }
    static void on_close(void* u, uint32_t) { ++of(u).closes; }
    static void on_data(void* u, uint32_t msg, uint32_t)
    {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%06x", msg);
        std::lock_guard<std::mutex> lock(of(u).mutex);
        of(u).shorts.push_back(hex);
    }
    static void on_long(void* u, const unsigned char* data, uint32_t len, uint32_t)
    {
        std::lock_guard<std::mutex> lock(of(u).mutex);
        of(u).longs.emplace_back(data, data + len);
    }
    size_t count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return shorts.size() + longs.size();
    }
};

}  // namespace

TEST(MidiJack, OutputToTheProbe)
{
    probe_process_t probe;
    ASSERT_TRUE(probe.wait_ready());
    std::string devices = out_listing();
    int number = number_in(devices, "probe:in");
    ASSERT_GE(number, 0) << devices;
    EXPECT_EQ(devices.find("probe:out"), std::string::npos) << "the probe's output is no output device";

    std::unique_ptr<midi_out_t> by_number(create_midi_out());
    ASSERT_TRUE(by_number->open(static_cast<unsigned>(number)));
    EXPECT_EQ(by_number->name, "probe:in");
    EXPECT_TRUE(note_on(*by_number, 9, 36, 127));
    ASSERT_TRUE(probe.wait_events(1, 5000));
    EXPECT_TRUE(by_number->close());

    std::unique_ptr<midi_out_t> by_name(create_midi_out());
    ASSERT_TRUE(by_name->open("obe:i"));
    const unsigned char display[4] = {0x20, 0x01, 0x00, 0x00};
    EXPECT_TRUE(send_roland_sysex(*by_name, 0x41, 0x10, 0x16, 0x12, display, 4));
    EXPECT_TRUE(send_roland_sysex(*by_name, 0x41, 0x10, 0x16, 0x12, nullptr, 0));
    const unsigned char raw[3] = {0x7E, 0x7F, 0x09};
    EXPECT_TRUE(send_sysex(*by_name, raw, 3));
    EXPECT_TRUE(note_off(*by_name, 9, 36));
    EXPECT_TRUE(program_change(*by_name, 9, 5));
    ASSERT_TRUE(probe.wait_events(6, 5000));
    delete by_name.release();

    EXPECT_EQ(hex_of(probe.events()), (strings_t{"99 24 7f", "f0 41 10 16 12 20 01 00 00 5f f7",
                                                 "f0 41 10 16 12 00 f7", "f0 7e 7f 09 f7", "99 24 00", "c9 05"}));
}

TEST(MidiJack, InputFromTheProbe)
{
    probe_process_t probe("probe");
    ASSERT_TRUE(probe.wait_ready());
    std::string devices = in_listing();
    ASSERT_NE(number_in(devices, "probe:out"), -1) << devices;

    collector_t got;
    quiet_cout_t quiet;
    {
        std::unique_ptr<midi_in_t> port(create_midi_in());
        ASSERT_TRUE(port->open("probe", &got.listener));
        EXPECT_EQ(port->name, "probe:out");
        EXPECT_NE(quiet.text.str().find(": probe:out\n"), std::string::npos);
        EXPECT_EQ(got.opens, 1);
        // The connection is made by the time open returns, but give JACK a period.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(probe.send({0x99, 0x24, 0x7F}));
        ASSERT_TRUE(probe.send({0xC9, 0x05}));
        ASSERT_TRUE(probe.send({0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x00, 0x00, 0x60, 0xF7}));
        for (int i = 0; i < 250 && got.count() < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_TRUE(port->close());
        EXPECT_EQ(got.closes, 1);
    }
    EXPECT_EQ(got.shorts, (strings_t{"7f2499", "0005c9"}));
    ASSERT_EQ(got.longs.size(), 1u);
    EXPECT_EQ(got.longs[0].size(), 10u);
    EXPECT_EQ(got.longs[0].back(), 0xF7);
}

// Opening, sending, closing and deleting ports again and again is clean, also
// with the peer sending while an input port closes.
TEST(MidiJack, ManyPortLifetimes)
{
    probe_process_t probe;
    ASSERT_TRUE(probe.wait_ready());
    const int lifetimes = 200;
    for (int i = 0; i < lifetimes; ++i) {
        std::unique_ptr<midi_out_t> port(create_midi_out());
        ASSERT_TRUE(port->open("probe:in")) << i;
        // The connection takes effect in JACK's next cycle.
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        EXPECT_TRUE(note_on(*port, 9, 42, static_cast<unsigned char>(1 + i % 127)));
        if (i % 2) {
            EXPECT_TRUE(port->close());
        }
    }
    // The last message before each close arrived: closing waits for JACK to take it.
    probe.wait_events(lifetimes, 5000);
    EXPECT_EQ(probe.events().size(), size_t(lifetimes));

    collector_t got;
    quiet_cout_t quiet;
    std::atomic<bool> sending{true};
    std::thread sender([&] {
        while (sending) {
            probe.send({0x99, 0x2A, 0x40});
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    for (int i = 0; i < 60; ++i) {
        midi_port_pair_t pair;
        ASSERT_TRUE(pair.in->open("probe:out", &got.listener)) << i;
        ASSERT_TRUE(pair.out->open("probe:in")) << i;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        EXPECT_TRUE(pair.close_both());
    }
    sending = false;
    sender.join();
    EXPECT_EQ(got.opens, 60);
    EXPECT_EQ(got.closes, 60);
    EXPECT_GT(got.count(), 0u);
    EXPECT_TRUE(probe.stop()) << "the probe saw every client leave cleanly";
}
