// Plays a song on the MIDI output port: one sprite or the whole sequence in
// an endless loop, driven from the GUI main loop.
#pragma once

#include "play_core.h"
#include "song.h"

#include <glibmm/main.h>
#include <sigc++/sigc++.h>

#include <cstdint>
#include <functional>

class Player {
public:
    using clock_t = std::function<uint32_t()>;   // milliseconds, wrapping

    Player();                          // std::chrono::steady_clock
    explicit Player(clock_t clock);
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;
    ~Player();

    void start_sprite(Song& song, uint64_t sprite_index);
    void start_sequence(Song& song);
    void stop();
    void set_tempo(uint64_t bpm);
    bool on_idle();                    // the tick; false asks to be dropped

    bool is_playing() const { return idle_connection.connected(); }

    PlayMode mode = SingleSprite;
    Song* song = nullptr;
    uint64_t sprite_index = 0;
    float bars_per_second = 0.0f;
    bool running = false;
    uint32_t last_elapsed_ms = 0xFFFFFFFFu;
    uint32_t start_time_ms = 0;
    sigc::connection idle_connection;
    sigc::signal<void, uint64_t> position_changed;
    uint8_t channel = 9;
    uint8_t velocity = 127;

private:
    void start(Song& song);
    void arm(int wait_ms);
    bool on_timer();    // runs the tick, then sleeps until the next beat is due

    play_plan_t plan() const;

    clock_t clock;
    NoteSet sounding;              // what the last beat switched on (sequence mode)
    uint64_t last_position = 0;    // the last position_changed sent
    play_span_t span;              // reused from tick to tick
};
