// A driver for MIDI services that send "now" (the ALSA sequencer through
// RtMidi, and the rest): a sender thread that sleeps to each event's due time
// on the monotonic clock and sends it then.
#pragma once

#include "midi_driver.h"
#include "midi_queue.h"

#include <semaphore.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Sends one whole message on the platform's service at once, on the calling
// thread; false when the service refused it.
class midi_sender_t {
public:
    virtual ~midi_sender_t();
    virtual bool send(const unsigned char* bytes, size_t len) = 0;
};

class midi_thread_driver_t : public midi_driver_t {
public:
    // `device` names the device in the failure reason. After a stall, what
    // is more than `late_limit` ns overdue is dropped rather than sent late.
    midi_thread_driver_t(std::unique_ptr<midi_sender_t> sender, std::string device,
                         uint64_t late_limit = 5000000);
    ~midi_thread_driver_t() override;

    bool send(const unsigned char* bytes, size_t len) override;
    bool post(const unsigned char* data, size_t len) override;
    void flush() override;
    void attach(midi_source_t* source) override;
    midi_source_t* attached() const override;
    double rate() const override { return 1e9; }   // nanoseconds
    uint64_t now() const override;
    bool failed(std::string& reason) const override;

    // How late the source's events left, in nanoseconds after their due
    // time: the last `lateness_capacity` of them, oldest first.
    static constexpr size_t lateness_capacity = 1 << 16;
    std::vector<int64_t> lateness() const;

private:
    class sink_t;
    void run();
    void wait_until(uint64_t time);
    void fail();

    std::unique_ptr<midi_sender_t> sender;
    std::string failure;
    uint64_t late_limit;
    uint64_t epoch;   // the monotonic clock's reading at time 0, in ns
    midi_queue_t queue;
    midi_source_slot_t source;
    sem_t wake;
    std::atomic<bool> quit{false};
    std::atomic<bool> has_failed{false};
    std::unique_ptr<std::atomic<int64_t>[]> late;
    std::atomic<uint64_t> late_count{0};
    std::atomic<uint64_t> rounds{0};   // of the thread's loop, for flush
    std::thread thread;
};
