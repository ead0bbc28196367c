#include "midi_jack_driver.h"

#include <jack/midiport.h>
#include <jack/transport.h>

#include <chrono>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <thread>

namespace {

constexpr const char* client_name = "stepmill";

// The transport as this period begins (valid for the whole period).
midi_transport_t transport_of(jack_client_t* client)
{
    jack_position_t position;
    const jack_transport_state_t state = jack_transport_query(client, &position);
    midi_transport_t t;
    t.rolling = state == JackTransportRolling;
    t.frame = position.frame;
    if ((position.valid & JackPositionBBT) && position.beat_type > 0 && position.ticks_per_beat > 0) {
        // In quarter notes, whatever note the master counts in.
        const double quarters_per_beat = 4.0 / position.beat_type;
        t.has_bars = true;
        t.quarter = ((position.bar - 1) * double(position.beats_per_bar) + (position.beat - 1) +
                     position.tick / position.ticks_per_beat) * quarters_per_beat;
        t.bpm = position.beats_per_minute * quarters_per_beat;
    }
    return t;
}
constexpr const char* port_name = "midi_out";

// Writes at frame offsets of one period's buffer, never going back in time:
// JACK keeps a buffer's events in the order of their offsets.
class jack_sink_t : public midi_sink_t {
public:
    jack_sink_t(void* buffer, uint64_t start, jack_nframes_t frames)
        : buffer(buffer), start(start), frames(frames) {}

    bool write(uint64_t time, const unsigned char* bytes, size_t len) override
    {
        jack_nframes_t offset = time <= start ? 0 : time - start >= frames ? frames - 1
                                                                          : jack_nframes_t(time - start);
        if (offset < last) offset = last;
        if (jack_midi_event_write(buffer, offset, bytes, len) != 0) {
            ++lost;
            return false;
        }
        last = offset;
        return true;
    }

    unsigned lost = 0;

private:
    void* buffer;
    uint64_t start;
    jack_nframes_t frames;
    jack_nframes_t last = 0;
};

}  // namespace

std::unique_ptr<midi_jack_driver_t> midi_jack_driver_t::open(const std::string& destination)
{
    std::unique_ptr<midi_jack_driver_t> driver(new midi_jack_driver_t);
    if (!driver->start(destination)) return nullptr;
    return driver;
}

bool midi_jack_driver_t::start(const std::string& to)
{
    destination = to;
    disconnected_reason = to + ": port disconnected.";
    jack_status_t status;
    client = jack_client_open(client_name, JackNoStartServer, &status);
    if (!client) return false;
    port = jack_port_register(client, port_name, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    sample_rate = jack_get_sample_rate(client);
    if (!port || jack_set_process_callback(client, on_process, this) != 0 ||
        jack_set_port_connect_callback(client, on_connect, this) != 0 ||
        jack_set_xrun_callback(client, on_xrun, this) != 0)
        return false;
    jack_on_info_shutdown(client, on_shutdown, this);
    if (jack_activate(client) != 0) return false;
    active = true;
    int connected = jack_connect(client, jack_port_name(port), destination.c_str());
    if (connected != 0 && connected != EEXIST) return false;
    // A new connection carries events from the next period on; two periods
    // later what is sent now surely reaches the device.
    wait_cycles(cycles.load() + 2, 1000);
    return true;
}

midi_jack_driver_t::~midi_jack_driver_t()
{
    if (!client) return;
    if (!active) {
        jack_client_close(client);
        return;
    }
    flush();
    closing = true;
    jack_deactivate(client);
    // libjack 1.9.21 leaves something behind when a client that released the
    // timebase is closed, and the process crashes when that server stops
    // later. Such a client stays open, idle, for the process's life; a
    // master is closed without a release, which is safe.
    if (timebase_released) {
        // Callbacks that no longer reach this driver, which goes now.
        jack_on_info_shutdown(client, [](jack_status_t, const char*, void*) {}, nullptr);
        jack_set_port_connect_callback(client, [](jack_port_id_t, jack_port_id_t, int, void*) {}, nullptr);
        jack_set_xrun_callback(client, [](void*) { return 0; }, nullptr);
        static auto* kept = new std::vector<jack_client_t*>;
        kept->push_back(client);
        return;
    }
    jack_client_close(client);
}

bool midi_jack_driver_t::wait_cycles(uint64_t count, int timeout_ms) const
{
    std::string reason;
    for (int i = 0; i < timeout_ms * 10; ++i) {
        if (cycles.load() >= count) return true;
        if (failed(reason)) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return false;
}

bool midi_jack_driver_t::send(const unsigned char* bytes, size_t len)
{
    return !has_failed.load() && queue.push(midi_queue_t::message, bytes, len);
}

bool midi_jack_driver_t::post(const unsigned char* data, size_t len)
{
    return !has_failed.load() && queue.push(midi_queue_t::command, data, len);
}

// What was queued last (the stop message) still goes out, unless the device
// is gone and nothing would take it.
void midi_jack_driver_t::flush()
{
    std::string reason;
    for (int i = 0; i < 500 && !failed(reason) && !queue.empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!failed(reason)) wait_cycles(cycles.load() + 1, 200);
}

void midi_jack_driver_t::attach(midi_source_t* next)
{
    source.attach(next);
}

midi_source_t* midi_jack_driver_t::attached() const
{
    return source.current();
}

double midi_jack_driver_t::rate() const
{
    return double(sample_rate);
}

uint64_t midi_jack_driver_t::now() const
{
    const uint64_t start = cycle_start.load();
    return start + uint32_t(jack_frame_time(client) - uint32_t(start));
}

uint64_t midi_jack_driver_t::latency() const
{
    jack_latency_range_t range{0, 0};
    jack_port_get_latency_range(port, JackPlaybackLatency, &range);
    return range.max;
}

bool midi_jack_driver_t::failed(std::string& reason) const
{
    if (!has_failed.load(std::memory_order_acquire)) return false;
    reason = failure;
    return true;
}

void midi_jack_driver_t::fail(const char* reason)
{
    if (has_failed.load()) return;
    std::strncpy(failure, reason, sizeof failure - 1);
    has_failed.store(true, std::memory_order_release);
}

int midi_jack_driver_t::on_process(jack_nframes_t frames, void* self)
{
    return static_cast<midi_jack_driver_t*>(self)->process(frames);
}

int midi_jack_driver_t::process(jack_nframes_t frames)
{
    const uint32_t frame32 = jack_last_frame_time(client);
    if (!first_cycle && frame32 < last_frame32) frame_high += uint64_t(1) << 32;
    first_cycle = false;
    last_frame32 = frame32;
    const uint64_t start = frame_high + frame32;
    cycle_start.store(start);

    void* buffer = jack_port_get_buffer(port, frames);
    jack_midi_clear_buffer(buffer);
    jack_sink_t sink(buffer, start, frames);
    midi_source_t* src = source.enter();
    if (src) src->transport(transport_of(client), start);
    // Messages at the period's first frame, in order with the commands; a
    // message that does not fit waits for the next period.
    queue.drain([&](midi_queue_t::kind_t kind, const unsigned char* data, size_t len) {
        if (kind == midi_queue_t::command) {
            if (src) src->command(data, len, start);
            return true;
        }
        if (!sink.write(start, data, len)) {
            --sink.lost;   // not lost: it goes out next period
            return false;
        }
        return true;
    });
    if (src) src->render(start, frames, sink);
    source.leave();
    if (sink.lost) lost_events.fetch_add(sink.lost);
    cycles.fetch_add(1);
    return 0;
}

void midi_jack_driver_t::on_shutdown(jack_status_t, const char* reason, void* self)
{
    auto* driver = static_cast<midi_jack_driver_t*>(self);
    driver->fail(reason && *reason ? reason : "JACK server shut down.");
}

void midi_jack_driver_t::on_connect(jack_port_id_t a, jack_port_id_t b, int connected, void* self)
{
    auto* driver = static_cast<midi_jack_driver_t*>(self);
    if (connected || driver->closing.load()) return;
    jack_port_t* pa = jack_port_by_id(driver->client, a);
    jack_port_t* pb = jack_port_by_id(driver->client, b);
    if (pa != driver->port && pb != driver->port) return;
    if (!jack_port_connected_to(driver->port, driver->destination.c_str()))
        driver->fail(driver->disconnected_reason.c_str());
}

void midi_jack_driver_t::transport_start()
{
    if (!has_failed.load()) jack_transport_start(client);
}

void midi_jack_driver_t::transport_stop()
{
    if (!has_failed.load()) jack_transport_stop(client);
}

bool midi_jack_driver_t::set_timebase_master(bool on)
{
    if (has_failed.load()) return false;
    if (!on) {
        if (timebase_master) {
            jack_release_timebase(client);
            timebase_released = true;
        }
        timebase_master = false;
        return true;
    }
    // Only where no other program is the master already.
    timebase_master = timebase_master || jack_set_timebase_callback(client, 1, on_timebase, this) == 0;
    return timebase_master;
}

// The process thread, after the period's process: bars, beats and tempo of
// the transport's frame, as the source counts them (four quarter notes a bar).
void midi_jack_driver_t::on_timebase(jack_transport_state_t, jack_nframes_t, jack_position_t* position, int,
                                     void* self)
{
    auto* driver = static_cast<midi_jack_driver_t*>(self);
    midi_source_t* src = driver->source.enter();
    double quarter = 0.0, bpm = 0.0;
    if (src) src->describe(position->frame, quarter, bpm);
    driver->source.leave();
    // Nothing to say before the source knows its tempo and rate (or past
    // any bar JACK's fields can count).
    if (!(bpm > 0.0) || !(quarter >= 0.0 && quarter < 4.0 * INT32_MAX)) return;
    constexpr double ticks = 1920.0;
    const double bar = std::floor(quarter / 4.0), in_bar = quarter - bar * 4.0, beat = std::floor(in_bar);
    position->valid = JackPositionBBT;
    position->beats_per_bar = 4.0f;
    position->beat_type = 4.0f;
    position->ticks_per_beat = ticks;
    position->beats_per_minute = bpm;
    position->bar = static_cast<int32_t>(bar) + 1;
    position->beat = static_cast<int32_t>(beat) + 1;
    position->tick = static_cast<int32_t>((in_bar - beat) * ticks);
    position->bar_start_tick = bar * 4.0 * ticks;
}

int midi_jack_driver_t::on_xrun(void* self)
{
    static_cast<midi_jack_driver_t*>(self)->xrun_count.fetch_add(1);
    return 0;
}

std::vector<std::string> jack_midi_destinations()
{
    std::vector<std::string> names;
    jack_status_t status;
    jack_client_t* lister = jack_client_open(client_name, JackNoStartServer, &status);
    if (!lister) return names;
    if (const char** ports = jack_get_ports(lister, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput)) {
        for (const char** p = ports; *p; ++p) names.emplace_back(*p);
        jack_free(ports);
    }
    jack_client_close(lister);
    return names;
}
