// The heart of playback, with no clock and no port: what is due in a span of
// time since the start, each event at its exact time.
#pragma once

#include "song.h"

#include <cstdint>
#include <vector>

enum PlayMode : int32_t { SingleSprite = 0, Sequence = 1 };

// What is played: one sprite looped, or the song's sequence looped, at a tempo.
struct play_plan_t {
    const Song* song = nullptr;
    PlayMode mode = SingleSprite;
    uint64_t sprite_index = 0;
    double bars_per_second = 0.0;
};

struct play_event_t {
    uint64_t time_us;    // since the start
    uint8_t note;
    bool on;             // false: the note's end (a note-on of velocity 0)
};

struct play_position_t {
    uint64_t time_us;
    uint64_t position;   // sequence entry that begins
};

struct play_span_t {
    std::vector<play_event_t> events;        // in time order; at one time, ends before starts
    std::vector<play_position_t> positions;  // sequence mode only
    bool stop = false;   // nothing can play any more: the sprite or the whole sequence is gone
    void clear()
    {
        events.clear();
        positions.clear();
        stop = false;
    }
};

// Appends to `out` everything that begins in [from_us, to_us). `sounding`
// carries the notes the last beat switched on from one span to the next
// (start with it empty); a beat switches those off before its own go on.
// The span from 0 always begins with the first beat and position 0.
void play_span(const play_plan_t& plan, uint64_t from_us, uint64_t to_us, NoteSet& sounding, play_span_t& out);

// The time of the first beat at or after `after_us`, or UINT64_MAX when none
// will come (no tempo, no beats, nothing to play).
uint64_t next_beat_us(const play_plan_t& plan, uint64_t after_us);
