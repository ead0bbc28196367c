#include "midi_queue.h"

#include <chrono>
#include <thread>

midi_source_t::~midi_source_t() = default;
midi_driver_t::~midi_driver_t() = default;

midi_queue_t::midi_queue_t(size_t bytes) : ring(jack_ringbuffer_create(bytes))
{
    // Locked in memory so that reading it never waits for a page fault.
    jack_ringbuffer_mlock(ring);
}

midi_queue_t::~midi_queue_t()
{
    jack_ringbuffer_free(ring);
}

bool midi_queue_t::push(kind_t kind, const unsigned char* data, size_t len)
{
    if (len > max_record) return false;
    std::lock_guard<std::mutex> lock(writers);
    header_t h{static_cast<uint32_t>(len), kind};
    if (jack_ringbuffer_write_space(ring) < sizeof h + len) return false;
    jack_ringbuffer_write(ring, reinterpret_cast<const char*>(&h), sizeof h);
    jack_ringbuffer_write(ring, reinterpret_cast<const char*>(data), len);
    return true;
}

bool midi_queue_t::empty() const
{
    return jack_ringbuffer_read_space(ring) == 0 && !has_held.load();
}

void midi_source_slot_t::attach(midi_source_t* next)
{
    source.store(next);
    // The real-time thread marks itself busy before it reads the source, and
    // this thread stored the source before it reads the mark: either that
    // thread sees the new source, or this one sees it busy and waits.
    for (int i = 0; i < 10000 && busy.load(); ++i) std::this_thread::sleep_for(std::chrono::microseconds(100));
}
