#include "player.h"

#include "program.h"

#include <glibmm/main.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <sstream>

namespace {

constexpr unsigned char roland = 0x41, device = 0x10, mt32 = 0x16, set_data = 0x12;
constexpr unsigned poll_ms = 25;

void send_display(const unsigned char* data, size_t len)
{
    if (midi_out && midi_out->is_opened()) send_roland_sysex(*midi_out, roland, device, mt32, set_data, data, len);
}

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

}  // namespace

Player::Player() = default;

Player::~Player()
{
    poll_timer.disconnect();
    if (midi_out && midi_out->driver() && midi_out->driver()->attached() == &engine)
        midi_out->driver()->attach(nullptr);
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
    midi_driver_t* driver = midi_out->driver();
    if (driver && !driver->failed(reason)) return driver;
    const std::string name = midi_out->name;
    {
        error_lines_t errors;
        midi_out->close();
        if (!name.empty() && midi_out->open(name.c_str())) return midi_out->driver();
        reason = errors.str();
    }
    device_failed.emit(reason);
    return nullptr;
}

void Player::start(const Song& song, PlayMode mode, uint64_t sprite_index)
{
    midi_driver_t* driver = ready_driver();
    if (!driver) {
        halt();
        return;
    }
    if (driver->attached() != &engine) driver->attach(&engine);
    engine.publish(song);

    // The title on the instrument's display, before the first beat.
    unsigned char text[23] = {0x20, 0x00, 0x00};
    std::memcpy(text + 3, program_title, std::min<size_t>(20, std::strlen(program_title)));
    send_display(text, sizeof text);

    play_command_t c;
    c.kind = play_command_t::start;
    c.mode = mode;
    c.sprite_index = sprite_index;
    c.bars_per_second = bars_per_second(song.bpm);
    c.rate = driver->rate();
    c.generation = ++generation;
    c.channel = channel;
    c.velocity = velocity;
    post(c);
    playing = true;
    position_reported = false;
    if (!poll_timer.connected())
        poll_timer = Glib::signal_timeout().connect(
            [this] {
                poll();
                return playing;
            },
            poll_ms);
}

void Player::stop()
{
    play_command_t c;
    c.kind = play_command_t::stop;
    post(c);
    // After the last note: the driver keeps the order.
    static const unsigned char reset[4] = {0x20, 0x01, 0x00, 0x00};
    send_display(reset, sizeof reset);
    halt();
}

void Player::halt()
{
    playing = false;
    poll_timer.disconnect();
}

void Player::set_tempo(uint64_t bpm)
{
    if (!playing) return;   // the next start takes the song's tempo
    play_command_t c;
    c.kind = play_command_t::tempo;
    c.bars_per_second = bars_per_second(bpm);
    post(c);
}

void Player::update(const Song& song)
{
    if (!playing) return;   // a start takes the song as it is then
    engine.publish(song);
    // Wakes a sender thread asleep until a beat the edit may have moved.
    post(play_command_t());
}

void Player::preview(uint8_t note)
{
    if (midi_out && midi_out->is_opened()) note_on(*midi_out, channel, note, velocity);
}

void Player::post(const play_command_t& c)
{
    if (!midi_out || !midi_out->driver()) return;
    unsigned char bytes[sizeof c];
    std::memcpy(bytes, &c, sizeof c);
    midi_out->driver()->post(bytes, sizeof bytes);
}

void Player::poll()
{
    engine.collect();
    midi_driver_t* driver = midi_out ? midi_out->driver() : nullptr;
    if (!playing || !driver) return;
    std::string reason;
    if (driver->failed(reason)) {
        halt();
        device_failed.emit(reason);
        return;
    }
    // A position is delivered when its entry is heard.
    const uint64_t heard = driver->now();
    const uint64_t latency = driver->latency();
    play_report_t r;
    while (playing && engine.peek(r)) {
        if (r.generation != generation) {
            engine.pop();   // from a start before the last
            continue;
        }
        if (r.kind == play_report_t::ended) {
            engine.pop();
            stop();   // nothing left to play
            break;
        }
        if (r.time + latency > heard) break;
        engine.pop();
        if (position_reported && r.entry == last_position) continue;
        position_reported = true;
        last_position = r.entry;
        position_changed.emit(r.entry);
    }
}
