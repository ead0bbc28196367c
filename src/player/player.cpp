#include "player.h"

#include "program.h"

#include <glibmm/main.h>

#include <chrono>
#include <cmath>
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

bool Player::on_timer()
{
    if (!on_idle()) {
        // A stop inside the tick has already dropped the connection.
        if (running) stop();
        return false;
    }
    // Sleep until the next beat is due, but never longer than max_wait_ms.
    uint32_t elapsed = clock() - start_time_ms;
    int wait = max_wait_ms;
    if (song && bars_per_second > 0.0f) {
        uint64_t beats = 0;
        if (mode == SingleSprite && sprite_index < song->sprites.size())
            beats = song->sprites[sprite_index].beats;
        else if (mode == Sequence)
            beats = current_beats;
        float steps_per_ms = static_cast<float>(beats ? beats : 1) * bars_per_second * 0.001f;
        float next = std::floor(static_cast<float>(elapsed) * steps_per_ms) + 1.0f;
        double due = std::ceil(next / steps_per_ms) - static_cast<double>(elapsed);
        if (due < wait) wait = due < 1 ? 1 : static_cast<int>(due);
    }
    idle_connection = Glib::signal_timeout().connect(sigc::mem_fun(*this, &Player::on_timer),
                                                     static_cast<unsigned>(wait),
                                                     Glib::PRIORITY_DEFAULT_IDLE);
    return false;   // this source is replaced by the one just armed
}

bool Player::on_idle()
{
    if (!running || !song) return false;
    const uint32_t elapsed = clock() - start_time_ms;
    const bool first = last_elapsed_ms == not_started;
    const float s = static_cast<float>(elapsed) * 0.001f;
    const float s_prev = static_cast<float>(last_elapsed_ms) * 0.001f;

    if (mode == SingleSprite) {
        if (sprite_index >= song->sprites.size()) {
            stop();
            return false;
        }
        const Sprite& sp = song->sprites[sprite_index];
        const float b = static_cast<float>(sp.beats);
        uint32_t cur = trunc32(s * b * bars_per_second);
        uint32_t prev = trunc32(s_prev * b * bars_per_second);
        if (sp.beats > 0 && (first || cur != prev)) {
            const NoteSet& notes = sp.notes[cur % sp.notes.size()];
            for (unsigned n = 0; n < 128; ++n)
                if (notes.test(n) && midi_out) note_on(*midi_out, channel, n, velocity);
        }
    } else {
        const size_t length = song->sequence.size();
        if (length == 0) {
            stop();
            return false;
        }
        uint32_t pos_prev = trunc32(s_prev * bars_per_second) % length;
        uint32_t pos = trunc32(s * bars_per_second) % length;
        auto entry = song->sequence.begin();
        std::advance(entry, pos);
        const Sprite* sp = *entry < song->sprites.size() ? &song->sprites[*entry] : nullptr;
        const uint64_t beats = sp ? sp->notes.size() : 0;
        current_beats = beats;
        const float b = static_cast<float>(beats);
        uint32_t cur = trunc32(s * b * bars_per_second);
        uint32_t prev = trunc32(s_prev * b * bars_per_second);
        if (first || cur != prev || pos != pos_prev) {
            NoteSet incoming;
            if (beats > 0) incoming = sp->notes[cur % beats];
            for (unsigned n = 0; n < 128; ++n) {
                if (!midi_out) break;
                if (sounding.test(n)) note_on(*midi_out, channel, n, 0);
                if (incoming.test(n)) note_on(*midi_out, channel, n, velocity);
            }
            sounding = incoming;
        }
        if (first || pos != pos_prev) position_changed.emit(pos);
    }
    last_elapsed_ms = elapsed;
    return true;
}
