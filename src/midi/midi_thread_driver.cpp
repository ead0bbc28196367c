#include "midi_thread_driver.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <cerrno>
#include <chrono>

namespace {

uint64_t monotonic_ns()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return uint64_t(t.tv_sec) * 1000000000u + uint64_t(t.tv_nsec);
}

timespec to_timespec(uint64_t ns)
{
    return timespec{static_cast<time_t>(ns / 1000000000u), static_cast<long>(ns % 1000000000u)};
}

}  // namespace

midi_sender_t::~midi_sender_t() = default;

// Sends each event as it is rendered: render is asked only for what is due.
class midi_thread_driver_t::sink_t : public midi_sink_t {
public:
    explicit sink_t(midi_thread_driver_t& driver) : driver(driver) {}
    bool write(uint64_t time, const unsigned char* bytes, size_t len) override
    {
        if (!driver.sender->send(bytes, len)) {
            driver.fail();
            return false;
        }
        const uint64_t sent = driver.now();
        const uint64_t n = driver.late_count.load(std::memory_order_relaxed);
        driver.late[n % lateness_capacity].store(int64_t(sent - time), std::memory_order_relaxed);
        driver.late_count.store(n + 1, std::memory_order_release);
        return true;
    }

private:
    midi_thread_driver_t& driver;
};

midi_thread_driver_t::midi_thread_driver_t(std::unique_ptr<midi_sender_t> sender, std::string device,
                                           uint64_t late_limit)
    : sender(std::move(sender)), failure(device + ": the MIDI service refused a message."), late_limit(late_limit),
      epoch(monotonic_ns()), late(new std::atomic<int64_t>[lateness_capacity])
{
    sem_init(&wake, 0, 0);
    thread = std::thread([this] { run(); });
    // Real-time priority where the system grants it; a plain thread otherwise.
    sched_param param{};
    param.sched_priority = 70;
    pthread_setschedparam(thread.native_handle(), SCHED_FIFO, &param);
}

midi_thread_driver_t::~midi_thread_driver_t()
{
    flush();
    quit = true;
    sem_post(&wake);
    thread.join();
    sem_destroy(&wake);
}

bool midi_thread_driver_t::send(const unsigned char* bytes, size_t len)
{
    if (has_failed.load() || !queue.push(midi_queue_t::message, bytes, len)) return false;
    sem_post(&wake);
    return true;
}

bool midi_thread_driver_t::post(const unsigned char* data, size_t len)
{
    if (has_failed.load() || !queue.push(midi_queue_t::command, data, len)) return false;
    sem_post(&wake);
    return true;
}

void midi_thread_driver_t::flush()
{
    for (int i = 0; i < 500 && !has_failed.load() && !queue.empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // One more round renders what the last command asked for.
    const uint64_t seen = rounds.load();
    for (int i = 0; i < 500 && !has_failed.load() && rounds.load() < seen + 2; ++i) {
        sem_post(&wake);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void midi_thread_driver_t::attach(midi_source_t* next)
{
    source.attach(next);
    sem_post(&wake);
}

midi_source_t* midi_thread_driver_t::attached() const
{
    return source.current();
}

uint64_t midi_thread_driver_t::now() const
{
    return monotonic_ns() - epoch;
}

bool midi_thread_driver_t::failed(std::string& reason) const
{
    if (!has_failed.load()) return false;
    reason = failure;
    return true;
}

void midi_thread_driver_t::fail()
{
    has_failed.store(true);
}

std::vector<int64_t> midi_thread_driver_t::lateness() const
{
    const uint64_t n = late_count.load(std::memory_order_acquire);
    std::vector<int64_t> out;
    for (uint64_t i = n > lateness_capacity ? n - lateness_capacity : 0; i < n; ++i)
        out.push_back(late[i % lateness_capacity].load(std::memory_order_relaxed));
    return out;
}

void midi_thread_driver_t::wait_until(uint64_t time)
{
    if (time == midi_never) {
        while (sem_wait(&wake) != 0 && errno == EINTR) {
        }
        return;
    }
    // A semaphore wait with an absolute deadline on the monotonic clock: it
    // sleeps to the event's due time like clock_nanosleep, and a message the
    // program sends meanwhile (a preview note) wakes it at once.
    const timespec deadline = to_timespec(epoch + time);
    sem_clockwait(&wake, CLOCK_MONOTONIC, &deadline);
}

void midi_thread_driver_t::run()
{
    sink_t sink(*this);
    uint64_t end = now();   // everything before has been rendered
    while (!quit.load()) {
        const uint64_t t = now();
        midi_source_t* src = source.enter();
        queue.drain([&](midi_queue_t::kind_t kind, const unsigned char* data, size_t len) {
            if (kind == midi_queue_t::command) {
                if (src) src->command(data, len, t);
            } else if (!has_failed.load() && !sender->send(data, len)) {
                fail();
            }
            return true;
        });
        uint64_t due = midi_never;
        if (src && !has_failed.load()) {
            const uint64_t from = t > end + late_limit ? t - late_limit : end;
            src->render(from, t + 1 - from, sink);
            due = src->next_due(t + 1);
        }
        source.leave();
        rounds.fetch_add(1);
        end = t + 1;
        if (!quit.load()) wait_until(due);
    }
}
