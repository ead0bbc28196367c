#include "player.h"

#include "program.h"

#include <glibmm/main.h>

#include <chrono>
#include <cmath>
#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t not_started = 0xFFFFFFFFu;
constexpr unsigned char roland = 0x41, device = 0x10, mt32 = 0x16, set_data = 0x12;
constexpr int max_wait_ms = 10;   // an edit made while playing is heard from its next beat

uint32_t steady_ms()
{
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Toward zero into 64 bits, of which the low 32 are used.
uint32_t trunc32(float x)
{
    if (!(x < 9.2e18f)) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(static_cast<int64_t>(x));
}

void send_display(const unsigned char* data, size_t len)
{
    if (midi_out) send_roland_sysex(*midi_out, roland, device, mt32, set_data, data, len);
}

}  // namespace

Player::Player() : Player(steady_ms) {}

Player::Player(clock_t clock) : clock(std::move(clock)) {}

Player::~Player()
{
    idle_connection.disconnect();
}

void Player::start_sprite(Song& s, uint64_t index)
{
    mode = SingleSprite;
    sprite_index = index;
    start(s);
}

void Player::start_sequence(Song& s)
{
    mode = Sequence;
    start(s);
}

void Player::start(Song& s)
{
    song = &s;
    bars_per_second = static_cast<float>(s.bpm) / 240.0f;
    running = true;
    last_elapsed_ms = not_started;
    start_time_ms = clock();
    sounding.reset();
    arm(0);

    unsigned char text[23] = {0x20, 0x00, 0x00};
    std::memcpy(text + 3, program_title, std::min<size_t>(20, std::strlen(program_title)));
    send_display(text, sizeof text);
}

void Player::stop()
{
    idle_connection.disconnect();
    running = false;
    static const unsigned char reset[4] = {0x20, 0x01, 0x00, 0x00};
    send_display(reset, sizeof reset);
}

void Player::set_tempo(uint64_t bpm)
{
    float f = static_cast<float>(bpm) / 60.0f * 0.25f;
    float p = static_cast<float>(last_elapsed_ms) * bars_per_second;
    uint32_t t = last_elapsed_ms + start_time_ms;
    bars_per_second = f;
    last_elapsed_ms = f > 0.0f ? trunc32(p / f) : 0;
    start_time_ms = t - last_elapsed_ms;
    if (is_playing()) arm(0);
}

void Player::arm(int wait_ms)
{
    idle_connection.disconnect();
    idle_connection = Glib::signal_timeout().connect(sigc::mem_fun(*this, &Player::on_timer),
                                                     static_cast<unsigned>(wait_ms),
                                                     Glib::PRIORITY_DEFAULT_IDLE);
}

play_plan_t Player::plan() const
{
    return play_plan_t{song, mode, sprite_index, static_cast<double>(bars_per_second)};
}

bool Player::on_timer()
{
    if (!on_idle()) {
        // A stop inside the tick has already dropped the connection.
        if (running) stop();
        return false;
    }
    // Sleep until the next beat is due, but never longer than max_wait_ms.
    const uint64_t elapsed = clock() - start_time_ms;
    const uint64_t next = next_beat_us(plan(), elapsed * 1000 + 1);
    uint64_t wait = max_wait_ms;
    if (next != UINT64_MAX) {
        uint64_t due_ms = (next + 999) / 1000;
        wait = std::min<uint64_t>(wait, due_ms > elapsed ? due_ms - elapsed : 1);
    }
    idle_connection = Glib::signal_timeout().connect(sigc::mem_fun(*this, &Player::on_timer),
                                                     static_cast<unsigned>(wait), Glib::PRIORITY_DEFAULT_IDLE);
    return false;   // this source is replaced by the one just armed
}

bool Player::on_idle()
{
    if (!running || !song) return false;
    const uint32_t elapsed = clock() - start_time_ms;
    bool first = last_elapsed_ms == not_started;
    // A beat goes out at the first tick at or after its time.
    const uint64_t from = first ? 0 : uint64_t(last_elapsed_ms) * 1000 + 1;
    const uint64_t to = uint64_t(elapsed) * 1000 + 1;
    span.clear();
    play_span(plan(), from, to, sounding, span);
    if (span.stop) {
        stop();
        return false;
    }
    if (midi_out) {
        for (const play_event_t& ev : span.events) note_on(*midi_out, channel, ev.note, ev.on ? velocity : 0);
    }
    last_elapsed_ms = elapsed;
    for (const play_position_t& p : span.positions) {
        if (!first && p.position == last_position) continue;
        last_position = p.position;
        position_changed.emit(p.position);
        first = false;
    }
    return true;
}
