// What the drivers share: the queue that carries messages and commands from
// the program's threads to the real-time thread, and the slot that holds the
// source the real-time thread serves.
#pragma once

#include "midi_driver.h"

#include <jack/ringbuffer.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

// Records in one lock-free ring, read by the real-time thread without locks
// or allocation. Writers take a mutex among themselves (they are never the
// real-time thread).
class midi_queue_t {
public:
    enum kind_t : uint8_t { message = 0, command = 1 };
    static constexpr size_t max_record = 4096;

    explicit midi_queue_t(size_t bytes = 1 << 16);
    ~midi_queue_t();
    midi_queue_t(const midi_queue_t&) = delete;
    midi_queue_t& operator=(const midi_queue_t&) = delete;

    // False when the record is too long or the ring has no room for it.
    bool push(kind_t kind, const unsigned char* data, size_t len);
    bool empty() const;

    // The real-time thread: hands each whole record to `take(kind, data,
    // len)` in order; a record `take` refuses (returns false) is offered
    // again first at the next drain, with everything behind it still queued.
    template <class take_t>
    void drain(take_t&& take)
    {
        if (has_held) {
            if (!take(static_cast<kind_t>(held.kind), record, size_t(held.len))) return;
            has_held = false;
        }
        header_t h;
        while (jack_ringbuffer_read_space(ring) >= sizeof h) {
            jack_ringbuffer_peek(ring, reinterpret_cast<char*>(&h), sizeof h);
            if (jack_ringbuffer_read_space(ring) < sizeof h + h.len) return;   // not whole yet
            jack_ringbuffer_read_advance(ring, sizeof h);
            jack_ringbuffer_read(ring, reinterpret_cast<char*>(record), h.len);
            if (!take(static_cast<kind_t>(h.kind), record, size_t(h.len))) {
                held = h;
                has_held = true;
                return;
            }
        }
    }

private:
    struct header_t {
        uint32_t len;
        uint8_t kind;
    };
    jack_ringbuffer_t* ring;
    std::mutex writers;
    unsigned char record[max_record];   // the real-time thread's copy of one record
    header_t held{};
    std::atomic<bool> has_held{false};   // read by writers waiting for an empty queue
};

// The source the real-time thread serves, swapped by other threads only
// when the real-time thread is not inside it.
class midi_source_slot_t {
public:
    // The real-time thread, around its use of the source.
    midi_source_t* enter()
    {
        busy.store(true);
        return source.load();
    }
    void leave() { busy.store(false); }

    // Waits (a second at most: a real-time thread that has died never
    // leaves) until the real-time thread is out of the old source.
    void attach(midi_source_t* next);
    midi_source_t* current() const { return source.load(); }

private:
    std::atomic<midi_source_t*> source{nullptr};
    std::atomic<bool> busy{false};
};
