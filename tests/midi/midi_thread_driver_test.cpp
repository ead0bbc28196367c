// The sender thread against a recording sender: order, due times, what a
// stall drops, and a service that refuses.
#include "midi_thread_driver.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;

// What reached the sender and the source, in order.
struct log_t {
    std::mutex mutex;
    std::vector<std::string> lines;
    void add(const std::string& line)
    {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
    }
};

// Sends by writing the first byte down; 0xFE makes it hang 100 ms, 0xFD is refused.
class sender_t : public midi_sender_t {
public:
    explicit sender_t(log_t& log) : log(log) {}
    bool send(const unsigned char* bytes, size_t) override
    {
        if (bytes[0] == 0xFE) std::this_thread::sleep_for(100ms);
        if (bytes[0] != 0xFD) log.add("send " + std::to_string(bytes[0]));
        return bytes[0] != 0xFD;
    }
    log_t& log;
};

// From each command on, 4 events 50 ms apart, the first 10 ms after the
// command; the event's byte is 16 and its number.
class source_t : public midi_source_t {
public:
    explicit source_t(log_t& log) : log(log) {}
    void command(const unsigned char* data, size_t len, uint64_t time) override
    {
        log.add("command " + std::string(reinterpret_cast<const char*>(data), len));
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
    log_t& log;
    uint64_t start = 0, next = 0;
};

}  // namespace

// Messages and commands go in the order given, events never before their
// due time; after the sender hangs 100 ms on the message sent before the
// command, the events more than 30 ms overdue are dropped.
TEST(MidiThreadDriver, OrderDueTimesAndStalls)
{
    struct { const char* what; std::vector<unsigned char> before; uint64_t late_limit; std::vector<std::string> lines; }
    cases[] = {
        {"every event at or after its due time", {}, 1000000000,
         {"send 1", "command go", "send 2", "send 16", "send 17", "send 18", "send 19"}},
        {"a stall drops what is overdue", {0xFE}, 30000000,
         {"send 1", "send 254", "command go", "send 2", "send 18", "send 19"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        log_t log;
        source_t source(log);
        midi_thread_driver_t d(std::make_unique<sender_t>(log), "test", c.late_limit);
        d.attach(&source);
        const unsigned char a = 1, b = 2;
        d.send(&a, 1);
        for (unsigned char m : c.before) d.send(&m, 1);
        d.post(reinterpret_cast<const unsigned char*>("go"), 2);
        d.send(&b, 1);
        std::this_thread::sleep_for(300ms);
        d.attach(nullptr);
        EXPECT_EQ(log.lines, c.lines);
        for (int64_t late : d.lateness()) EXPECT_GE(late, 0) << "never early";
    }
}

// A message the service refuses fails the device with its name; sending is refused from then on.
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
