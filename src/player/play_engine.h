// The engine that owns the playing: the source a MIDI driver serves on its
// real-time thread. It reads the newest song snapshot at every span, takes
// start, stop and tempo as commands in order with the driver's messages,
// writes the instrument's display messages and the MIDI clock's Start and
// Stop at their frames, follows the JACK transport when asked, and reports
// what it plays through a lock-free ring.
#pragma once

#include "midi_driver.h"
#include "play_core.h"

#include <jack/ringbuffer.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// A command as it travels through the driver's queue.
struct play_command_t {
    enum kind_t : uint8_t { start, stop, tempo, follow, wake } kind = wake;
    PlayMode mode = SingleSprite;
    uint64_t sprite_index = 0;
    double bars_per_second = 0.0;   // start, tempo
    double rate = 48000.0;          // the driver's time units per second
    uint32_t generation = 0;        // start: which start this is
    bool on = false;                // follow: the transport's starts and stops
};

// What the engine tells the GUI.
struct play_report_t {
    enum kind_t : uint8_t {
        position,   // the sequence entry `entry` begins at `time`
        step,       // beat `beat` of sprite `entry` begins at `time`
        ended,      // nothing is left to play
        started,    // the transport started the sequence
        stopped,    // the transport stopped it
    } kind;
    uint32_t generation;   // of the start it belongs to
    uint64_t time;         // on the driver's timeline
    uint64_t entry;
    uint32_t beat = 0;
};

class play_engine_t : public midi_source_t {
public:
    play_engine_t();
    ~play_engine_t() override;
    play_engine_t(const play_engine_t&) = delete;
    play_engine_t& operator=(const play_engine_t&) = delete;

    // The GUI thread. A new snapshot of the song; older ones are freed here,
    // once the real-time thread has let go of them.
    void publish(const Song& song);
    void collect();
    // The oldest report not yet taken.
    bool peek(play_report_t& report) const;
    void pop();

    // The real-time thread.
    void command(const unsigned char* data, size_t len, uint64_t time) override;
    void render(uint64_t from, uint64_t count, midi_sink_t& sink) override;
    uint64_t next_due(uint64_t after) override;
    void transport(const midi_transport_t& transport, uint64_t time) override;
    void describe(uint64_t transport_frame, double& quarter, double& bpm) override;

private:
    class note_writer_t;
    const song_snapshot_t* acquire();
    void report(play_report_t::kind_t kind, uint64_t time, uint64_t entry, uint32_t beat = 0);
    void begin(uint64_t time, double bar, uint32_t start_generation);
    void end();
    void write_start(uint64_t time, midi_sink_t& sink);
    void write_stop(uint64_t time, midi_sink_t& sink);

    // Published by the GUI thread; the real-time thread announces the one it
    // reads in `hazard` so that the GUI never frees it underneath.
    std::atomic<const song_snapshot_t*> current{nullptr};
    std::atomic<const song_snapshot_t*> hazard{nullptr};
    std::unique_ptr<song_snapshot_t> newest;
    std::vector<std::unique_ptr<song_snapshot_t>> retired;

    jack_ringbuffer_t* reports;

    // The real-time thread's own.
    bool playing = false;
    play_plan_t plan;
    play_state_t state;
    uint32_t generation = 0;
    uint8_t status = 0x99;     // note-on on the song's channel
    double song_bars_per_second = 0.5;   // the song's tempo, playing or not
    bool start_due = false;    // the display's title, the clock's Start, before the first beat
    bool stop_due = false;     // the display's reset (the clock's Stop if it ran)
    bool clock_ran = false;
    bool following = false;    // the JACK transport starts and stops the sequence
    bool rolling = false;      // as the transport was last seen
};
