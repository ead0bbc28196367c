// The heart of playback, with no clock, no thread and no port: which notes
// of a song sound at which time, for a mode and a timeline. The engine runs
// it on its real-time thread; tests and benchmarks hold it to the frame.
#pragma once

#include "song.h"

#include <cstdint>
#include <vector>

enum PlayMode : int32_t { SingleSprite = 0, Sequence = 1 };

constexpr uint64_t play_never = UINT64_MAX;

// What is played: an immutable copy of a song's sprites and sequence, made
// on the GUI side after each edit and read by the real-time thread.
struct song_snapshot_t {
    struct sprite_t {
        uint32_t beats;
        uint32_t first;   // its beats are beats[first, first + beats)
    };
    struct beat_t {
        NoteSet notes;            // the notes that sound (mute and solo applied)
        double start;             // where in its bar it begins (swing applied), 0 to 1
        uint32_t soft_first = 0;  // its notes softer than full: soft[soft_first, + soft_count)
        uint32_t soft_count = 0;
    };

    explicit song_snapshot_t(const Song& song);
    uint8_t velocity(const beat_t& beat, uint8_t note) const;

    std::vector<sprite_t> sprites;
    std::vector<beat_t> beats;
    std::vector<NoteVelocity> soft;
    std::vector<uint32_t> sequence;
    uint8_t channel = default_channel;   // 1 to 16
    bool clock = false;                  // MIDI clock out
};

// Maps the time of a driver (units, `rate` per second) to the position in
// bars since the start: a bar is four quarter notes, 240 / bpm seconds.
struct play_timeline_t {
    double rate = 1e6;              // time units per second
    double bars_per_second = 0.0;   // 0: time stands still, nothing sounds
    uint64_t anchor = 0;            // a time...
    double anchor_bar = 0.0;        // ...and the position there

    double bar_at(uint64_t time) const;
    // The time of a position at or after the anchor, rounded to a unit.
    uint64_t time_of(double bar) const;
    // From `time` on, another tempo; the position there stays.
    void set_tempo(uint64_t time, double bars_per_second);
};

struct play_plan_t {
    const song_snapshot_t* song = nullptr;
    PlayMode mode = SingleSprite;
    uint64_t sprite_index = 0;   // the sprite looped in SingleSprite mode
    play_timeline_t timeline;
    bool clock = false;          // MIDI clock pulses besides the notes
};

// MIDI clock: 24 pulses a quarter note, four quarter notes a bar.
constexpr double pulses_per_bar = 96.0;

// Carried from one span to the next; a new start begins with a fresh one.
struct play_state_t {
    NoteSet sounding;                 // what the last beat switched on (Sequence mode)
    uint64_t last_beat = play_never;  // when the last beat was written; none yet
    double last_start = 0.0;          // where in the song (in bars) that beat begins
    uint64_t last_bar = play_never;   // the bar whose position was reported last
    uint64_t next_pulse = 0;          // the MIDI clock pulse to write next
};

class play_sink_t {
public:
    // A note starts with its velocity, or ends (velocity 0).
    virtual void note(uint64_t time, uint8_t note, uint8_t velocity) = 0;
    // A sequence entry begins to sound (Sequence mode).
    virtual void position(uint64_t time, uint64_t entry) = 0;
    // A MIDI clock pulse is due.
    virtual void pulse(uint64_t time) = 0;
    // A beat of a sprite begins (one that is silent too), for showing it.
    virtual void step(uint64_t time, uint64_t sprite, uint32_t beat) = 0;

protected:
    ~play_sink_t() = default;
};

// Beats closer than this are too close to be heard apart: of a song played
// beyond every sensible tempo, only the beat current at each millisecond
// sounds, so the work and the traffic stay bounded.
constexpr double min_beat_seconds = 0.001;

// Writes to `sink`, in time order, what sounds in [from, to): at each beat,
// note by note from 0 to 127, the end of the note if it sounded (Sequence
// mode) and then its start if the beat has it; with the clock, its pulses,
// each before the notes of its time. A beat or pulse whose time passed
// before `from` is not written late: it is dropped. False when nothing can
// play any more (the sprite, or the whole sequence, is gone).
bool play_span(const play_plan_t& plan, uint64_t from, uint64_t to, play_state_t& state, play_sink_t& sink);

// When play_span would next write a beat or a pulse, at or after `after`;
// play_never when nothing will.
uint64_t next_beat(const play_plan_t& plan, uint64_t after, const play_state_t& state);

// Keeps everything a span writes: for tests and tools.
struct play_record_t : play_sink_t {
    struct event_t {
        uint64_t time;
        uint8_t note;
        uint8_t velocity;   // 0: the note's end
        bool on() const { return velocity != 0; }
    };
    struct position_t {
        uint64_t time;
        uint64_t entry;
    };
    std::vector<event_t> events;
    std::vector<position_t> positions;
    std::vector<uint64_t> pulses;

    void note(uint64_t time, uint8_t note, uint8_t velocity) override { events.push_back({time, note, velocity}); }
    void position(uint64_t time, uint64_t entry) override { positions.push_back({time, entry}); }
    void pulse(uint64_t time) override { pulses.push_back(time); }
    void step(uint64_t, uint64_t, uint32_t) override {}
};
