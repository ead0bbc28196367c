// Plays a song on the MIDI output port: one sprite or the whole sequence in
// an endless loop. The GUI's side of the engine: it hands the engine the
// song and its commands, and brings the engine's reports to the main loop.
#pragma once

#include "play_engine.h"
#include "song.h"

#include <sigc++/sigc++.h>

#include <cstdint>
#include <string>

class midi_driver_t;

class Player {
public:
    Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;
    ~Player();

    void start_sprite(const Song& song, uint64_t sprite_index);
    void start_sequence(const Song& song);
    void stop();
    // From the frame the engine takes it, the place in the bar stays.
    void set_tempo(uint64_t bpm);
    bool is_playing() const { return playing; }
    // The song being played has changed: heard from its next beat.
    void update(const Song& song);
    // A note heard at once (a note switched on in an editor), in order with
    // what plays.
    void preview(uint8_t note);

    // The JACK transport: followed, another program's start and stop start
    // and stop the sequence (from the master's bar, at its tempo), and the
    // play control starts and stops the transport.
    void set_follow_transport(bool on);
    bool follows_transport() const { return following; }
    // Gives other programs the song's tempo, bars and beats as the JACK
    // transport's timebase master; false when that cannot be.
    bool set_timebase_master(bool on);

    // Brings the engine's reports to this thread: the main loop does it every
    // few milliseconds while playing.
    void poll();

    // The sequence entry now heard, each time it changes (Sequence mode).
    sigc::signal<void, uint64_t> position_changed;
    // The beat of a sprite now heard; no_step when nothing plays any more.
    static constexpr uint64_t no_step = UINT64_MAX;
    sigc::signal<void, uint64_t, uint64_t> step_changed;   // sprite, beat
    // Playback could not start, or stopped, because the device is gone; the
    // reason as the device layer tells it.
    sigc::signal<void, const std::string&> device_failed;

    // The preview's: the song's channel (index 9, MIDI channel 10, until a
    // song says otherwise) at full velocity.
    uint8_t channel = 9;
    uint8_t velocity = 127;

private:
    void start(const Song& song, PlayMode mode, uint64_t sprite_index);
    midi_driver_t* ready_driver();
    void post(play_command_t command);
    void halt();
    void keep_polling();

    play_engine_t engine;
    sigc::connection poll_timer;
    bool playing = false;
    bool following = false;
    bool master = false;
    uint32_t generation = 0;
    bool position_reported = false;
    uint64_t last_position = 0;
};
