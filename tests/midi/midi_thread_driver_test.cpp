// The sender thread against a recording sender: order, due times, what a
// stall drops, and a service that refuses.
#include "midi_thread_driver.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

namespace {

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

}  // namespace

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
