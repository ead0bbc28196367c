// The sender thread against a recording sender: order, due times, what a
// stall drops, and a service that refuses.
#include "midi_thread_driver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct log_t {
    std::mutex mutex;
    std::vector<std::string> lines;   // what reached the sender and the source, in order
    std::vector<std::pair<uint64_t, uint64_t>> sent;   // due time, time sent (the driver's timeline)
    void add(const std::string& line)
    {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
    }
};

// Sends by writing the first byte down; one byte value makes it hang for a
// while, another is refused.
class sender_t : public midi_sender_t {
public:
    explicit sender_t(log_t& log) : log(log) {}
    bool send(const unsigned char* bytes, size_t) override
    {
        if (bytes[0] == 0xFE) std::this_thread::sleep_for(100ms);
        if (bytes[0] == 0xFD) return false;
        log.add("send " + std::to_string(bytes[0]));
        return true;
    }

private:
    log_t& log;
};

// From each command on, `count` events `every` nanoseconds apart, the first
// `first` after the command; the event's byte is its number.
class source_t : public midi_source_t {
public:
    source_t(log_t& log, midi_thread_driver_t*& driver) : log(log), driver(driver) {}
    void command(const unsigned char* data, size_t len, uint64_t time) override
    {
        log.add("command " + std::string(reinterpret_cast<const char*>(data), len));
        start = time + first;
        next = 0;
    }
    void render(uint64_t from, uint64_t count, midi_sink_t& sink) override
    {
        for (; next < events && start + next * every < from + count; ++next) {
            const uint64_t due = start + next * every;
            if (due < from) continue;   // passed unrendered: dropped
            const unsigned char byte = static_cast<unsigned char>(next);
            sink.write(due, &byte, 1);
            std::lock_guard<std::mutex> lock(log.mutex);
            log.sent.push_back({due, driver->now()});
        }
    }
    uint64_t next_due(uint64_t) override { return next < events ? start + next * every : midi_never; }

    uint64_t first = 10000000, every = 50000000, events = 4;

private:
    log_t& log;
    midi_thread_driver_t*& driver;
    uint64_t start = 0, next = 0;
};

}  // namespace

// Events due 10, 60, 110 and 160 ms after the command.
TEST(MidiThreadDriver, OrderDueTimesAndStalls)
{
    struct { const char* what; std::vector<unsigned char> before; uint64_t late_limit; size_t sent; } cases[] = {
        {"every event at or after its due time", {}, 1000000000, 4},
        // The sender hangs 100 ms on the message sent before the command:
        // the events due then are more than 30 ms overdue, and dropped.
        {"a stall drops what is overdue", {0xFE}, 30000000, 2},
    };
    for (const auto& c : cases) {
        log_t log;
        midi_thread_driver_t* driver = nullptr;
        source_t source(log, driver);
        {
            midi_thread_driver_t d(std::make_unique<sender_t>(log), "test", c.late_limit);
            driver = &d;
            d.attach(&source);
            const unsigned char a = 1, b = 2;
            d.send(&a, 1);
            for (unsigned char m : c.before) d.send(&m, 1);
            d.post(reinterpret_cast<const unsigned char*>("go"), 2);
            d.send(&b, 1);
            std::this_thread::sleep_for(300ms);
            d.attach(nullptr);
        }
        std::vector<std::string> order = {"send 1"};
        for (unsigned char m : c.before) order.push_back("send " + std::to_string(m));
        order.insert(order.end(), {"command go", "send 2"});
        ASSERT_GE(log.lines.size(), order.size()) << c.what;
        EXPECT_EQ(std::vector<std::string>(log.lines.begin(), log.lines.begin() + long(order.size())), order)
            << c.what << ": messages and commands in the order given";
        EXPECT_EQ(log.sent.size(), c.sent) << c.what;
        for (auto [due, sent] : log.sent) EXPECT_GE(sent, due) << c.what << ": never early";
        for (size_t i = 1; i < log.sent.size(); ++i) EXPECT_GT(log.sent[i].first, log.sent[i - 1].first) << c.what;
    }
}

TEST(MidiThreadDriver, RefusedMessageFailsTheDevice)
{
    log_t log;
    midi_thread_driver_t driver(std::make_unique<sender_t>(log), "Synth:in");
    const unsigned char refused = 0xFD, fine = 1;
    std::string reason;
    EXPECT_FALSE(driver.failed(reason));
    EXPECT_TRUE(driver.send(&refused, 1));
    for (int i = 0; i < 200 && !driver.failed(reason); ++i) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(reason, "Synth:in: the MIDI service refused a message.");
    EXPECT_FALSE(driver.send(&fine, 1));
}
