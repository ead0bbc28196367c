#include "player.h"

#include "program.h"

#include <glibmm/main.h>

#include <cstring>
#include <iostream>
#include <sstream>

namespace {

constexpr unsigned poll_ms = 25;

double bars_per_second(uint64_t bpm)
{
    return double(bpm) / 240.0;
}

// The device layer's error lines, kept instead of written to the console.
class error_lines_t {
public:
    error_lines_t() : old(std::cerr.rdbuf(text.rdbuf())) {}
    ~error_lines_t() { std::cerr.rdbuf(old); }
    std::string str() const
    {
        std::string s = text.str();
        while (!s.empty() && s.back() == '\n') s.pop_back();
        return s;
    }

private:
    std::ostringstream text;
    std::streambuf* old;
};

midi_driver_t* driver()
{
    return midi_out ? midi_out->driver() : nullptr;
}

}  // namespace

Player::Player() = default;

Player::~Player()
{
    poll_timer.disconnect();
    if (driver() && driver()->attached() == &engine) {
        driver()->flush();   // a stop just posted still tells the display
        driver()->attach(nullptr);
    }
}

void Player::start_sprite(const Song& song, uint64_t sprite_index)
{
    start(song, SingleSprite, sprite_index);
}

void Player::start_sequence(const Song& song)
{
    start(song, Sequence, 0);
}

// The port's driver, opened again by the device's name when the device went
// away since; null (after device_failed) when it cannot be had.
midi_driver_t* Player::ready_driver()
{
    if (!midi_out) return nullptr;
    std::string reason;
    midi_driver_t* current = midi_out->driver();
    if (current && !current->failed(reason)) return current;
    const std::string name = midi_out->name;
    {
        error_lines_t errors;
        midi_out->close();
        if (!name.empty() && midi_out->open(name.c_str())) {
            // A new client: it follows the transport, and is its master, as
            // the old one was.
            if (following) set_follow_transport(true);
            if (master) set_timebase_master(true);
            return midi_out->driver();
        }
        reason = errors.str();
    }
    device_failed.emit(reason);
    return nullptr;
}

void Player::start(const Song& song, PlayMode mode, uint64_t sprite_index)
{
    midi_driver_t* d = ready_driver();
    if (!d) {
        halt();
        return;
    }
    engine.publish(song);
    channel = static_cast<uint8_t>(song.channel - 1);
    // Following the transport, the sequence starts when the transport rolls.
    if (mode == Sequence && following && d->has_transport()) {
        d->transport_start();
        keep_polling();
        return;
    }
    play_command_t c;
    c.kind = play_command_t::start;
    c.mode = mode;
    c.sprite_index = sprite_index;
    c.bars_per_second = bars_per_second(song.bpm);
    c.generation = ++generation;
    post(c);
    playing = true;
    position_reported = false;
    keep_polling();
}

void Player::stop()
{
    play_command_t c;
    c.kind = play_command_t::stop;
    post(c);   // the engine tells the display, after the last note
    if (following && driver() && driver()->has_transport()) driver()->transport_stop();
    halt();
}

void Player::halt()
{
    if (playing) step_changed.emit(no_step, 0);
    playing = false;
    if (!following) poll_timer.disconnect();
}

void Player::keep_polling()
{
    if (!poll_timer.connected())
        poll_timer = Glib::signal_timeout().connect(
            [this] {
                poll();
                return playing || following;
            },
            poll_ms);
}

void Player::set_tempo(uint64_t bpm)
{
    play_command_t c;
    c.kind = play_command_t::tempo;
    c.bars_per_second = bars_per_second(bpm);
    post(c);
}

void Player::update(const Song& song)
{
    channel = static_cast<uint8_t>(song.channel - 1);   // the preview's too
    if (!playing && !following) return;   // a start takes the song as it is then
    engine.publish(song);
    // Wakes a sender thread asleep until a beat the edit may have moved.
    post(play_command_t());
}

void Player::set_follow_transport(bool on)
{
    following = on;
    play_command_t c;
    c.kind = play_command_t::follow;
    c.on = on;
    post(c);
    if (on) keep_polling();
}

bool Player::set_timebase_master(bool on)
{
    midi_driver_t* d = driver();
    post(play_command_t());   // the engine learns the driver's rate
    master = d && d->set_timebase_master(on) && on;
    return master == on;
}

void Player::preview(uint8_t note)
{
    if (midi_out && midi_out->is_opened()) note_on(*midi_out, channel, note, velocity);
}

void Player::post(play_command_t c)
{
    midi_driver_t* d = driver();
    if (!d) return;
    if (d->attached() != &engine) d->attach(&engine);
    c.rate = d->rate();
    unsigned char bytes[sizeof c];
    std::memcpy(bytes, &c, sizeof c);
    d->post(bytes, sizeof bytes);
}

void Player::poll()
{
    engine.collect();
    midi_driver_t* d = driver();
    if (!d) return;
    std::string reason;
    if (playing && d->failed(reason)) {
        halt();
        device_failed.emit(reason);
        return;
    }
    // A position is delivered when its entry is heard.
    const uint64_t heard = d->now();
    const uint64_t latency = d->latency();
    play_report_t r;
    while (engine.peek(r)) {
        if (r.kind == play_report_t::started) {
            generation = r.generation;   // the transport's start is the newest
            playing = true;
            position_reported = false;
        }
        if (r.generation != generation) {
            engine.pop();   // from a start before the last
            continue;
        }
        if ((r.kind == play_report_t::position || r.kind == play_report_t::step) && r.time + latency > heard) break;
        engine.pop();
        switch (r.kind) {
        case play_report_t::ended:
        case play_report_t::stopped:
            halt();
            break;
        case play_report_t::started:
            break;
        case play_report_t::step:
            step_changed.emit(r.entry, r.beat);
            break;
        case play_report_t::position:
            if (position_reported && r.entry == last_position) break;
            position_reported = true;
            last_position = r.entry;
            position_changed.emit(r.entry);
            break;
        }
    }
}
