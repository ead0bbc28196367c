// A running MIDI output: one real-time thread (a JACK process callback or a
// sender thread) that writes, in order, the messages the program sends and
// the events a timed source renders, each at its own time.
//
// Time is the driver's own timeline: a 64-bit count of units, rate() of them
// per second (JACK frames, or nanoseconds of the monotonic clock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint64_t midi_never = UINT64_MAX;

// Where a source writes its events. Called on the real-time thread only.
class midi_sink_t {
public:
    // One message at `time` (within the span being rendered, never before an
    // earlier write); false when it could not be written.
    virtual bool write(uint64_t time, const unsigned char* bytes, size_t len) = 0;

protected:
    ~midi_sink_t() = default;
};

// A shared transport's state (JACK's), as a driver sees it each period.
struct midi_transport_t {
    bool rolling = false;
    uint64_t frame = 0;      // the transport's position, in frames
    bool has_bars = false;   // a timebase master gives bars and beats:
    double quarter = 0.0;    // the position in quarter notes from the top
    double bpm = 0.0;        // and its tempo in quarter notes a minute
};

// What the driver plays besides the messages it is sent: the player's engine.
// Its functions run on the real-time thread and must not lock, allocate,
// free or block.
class midi_source_t {
public:
    virtual ~midi_source_t();
    // A command posted through the driver, taken at `time` (the start of the
    // span rendered next), in order with the messages sent.
    virtual void command(const unsigned char* data, size_t len, uint64_t time) = 0;
    // Writes every event due in [from, from + count), in time order.
    virtual void render(uint64_t from, uint64_t count, midi_sink_t& sink) = 0;
    // The first time at or after `after` at which render would write
    // something, if no command comes; midi_never when nothing will.
    virtual uint64_t next_due(uint64_t after) = 0;
    // The transport's state at the start of each span (drivers that have one),
    // before the span's commands.
    virtual void transport(const midi_transport_t&, uint64_t /*time*/) {}
    // As the transport's timebase master: the position in quarter notes and
    // the tempo at a transport frame.
    virtual void describe(uint64_t /*transport_frame*/, double& quarter, double& bpm) { quarter = bpm = 0.0; }
};

class midi_driver_t {
public:
    // Stops the real-time thread after it has written what was queued (for
    // a short while at most: a device that is gone takes nothing).
    virtual ~midi_driver_t();

    // Queues a whole message; the real-time thread writes it at the start of
    // its next span, in order with everything sent and posted. False when
    // the queue is full or the device has failed.
    virtual bool send(const unsigned char* bytes, size_t len) = 0;
    // Queues a command for the attached source, in the same order.
    virtual bool post(const unsigned char* data, size_t len) = 0;
    // Returns once what was sent and posted so far has been written (for a
    // short while at most: a device that is gone takes nothing).
    virtual void flush() = 0;
    // Makes `source` the one the real-time thread serves (null: none).
    // Returns once the real-time thread no longer uses the previous one.
    virtual void attach(midi_source_t* source) = 0;
    virtual midi_source_t* attached() const = 0;

    virtual double rate() const = 0;        // units per second
    virtual uint64_t now() const = 0;       // the timeline's present
    // How long after its time an event written now is heard (the output's
    // latency), in units.
    virtual uint64_t latency() const { return 0; }

    // True once the device has gone (a server shut down, a port vanished,
    // the service refused to send); `reason` says what happened.
    virtual bool failed(std::string& reason) const = 0;

    // A transport shared with other programs (JACK's); the rest do nothing.
    virtual bool has_transport() const { return false; }
    virtual void transport_start() {}
    virtual void transport_stop() {}
    // Becomes (true) or stops being the transport's timebase master, giving
    // bars, beats and tempo from the source's describe(); false when that
    // cannot be (another program is the master, or there is no transport).
    virtual bool set_timebase_master(bool) { return false; }
};
