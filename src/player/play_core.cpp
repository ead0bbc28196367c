#include "play_core.h"

#include <cmath>
#include <iterator>
#include <limits>

namespace {

constexpr uint64_t never = std::numeric_limits<uint64_t>::max();

// The time of beat j of a bar of `beats` beats that begins at bar number `bar`.
uint64_t beat_time_us(double bars_per_second, uint64_t bar, uint64_t j, uint64_t beats)
{
    double bar_pos = static_cast<double>(bar) + static_cast<double>(j) / static_cast<double>(beats);
    return static_cast<uint64_t>(std::ceil(bar_pos / bars_per_second * 1e6 - 1e-6));
}

// The first bar number whose start is at or after t, minus one when t lies
// inside a bar: the bar that holds t.
uint64_t bar_at(double bars_per_second, uint64_t t_us)
{
    return static_cast<uint64_t>(std::floor(static_cast<double>(t_us) * 1e-6 * bars_per_second));
}

void emit_beat(uint64_t time_us, const NoteSet& incoming, NoteSet& sounding, play_span_t& out)
{
    for (unsigned n = 0; n < 128; ++n)
        if (sounding.test(n)) out.events.push_back({time_us, static_cast<uint8_t>(n), false});
    for (unsigned n = 0; n < 128; ++n)
        if (incoming.test(n)) out.events.push_back({time_us, static_cast<uint8_t>(n), true});
    sounding = incoming;
}

// The sprite a sequence entry plays, or null when it names none.
const Sprite* entry_sprite(const Song& song, uint32_t entry)
{
    return entry < song.sprites.size() ? &song.sprites[entry] : nullptr;
}

}  // namespace

void play_span(const play_plan_t& plan, uint64_t from_us, uint64_t to_us, NoteSet& sounding, play_span_t& out)
{
    const Song* song = plan.song;
    if (!song) {
        out.stop = true;
        return;
    }
    if (plan.mode == SingleSprite) {
        if (plan.sprite_index >= song->sprites.size()) {
            out.stop = true;
            return;
        }
        const Sprite& sp = song->sprites[plan.sprite_index];
        const uint64_t beats = sp.notes.size();
        if (beats == 0 || !(plan.bars_per_second > 0.0) || from_us >= to_us) return;
        for (uint64_t bar = bar_at(plan.bars_per_second, from_us);; ++bar) {
            for (uint64_t j = 0; j < beats; ++j) {
                uint64_t t = beat_time_us(plan.bars_per_second, bar, j, beats);
                if (t >= to_us) return;
                if (t < from_us) continue;
                // A single sprite leaves its notes to ring: only starts go out.
                for (unsigned n = 0; n < 128; ++n)
                    if (sp.notes[j].test(n)) out.events.push_back({t, static_cast<uint8_t>(n), true});
            }
        }
    }

    const size_t length = song->sequence.size();
    if (length == 0) {
        out.stop = true;
        return;
    }
    if (!(plan.bars_per_second > 0.0) || from_us >= to_us) {
        if (from_us == 0 && to_us > 0) out.positions.push_back({0, 0});
        return;
    }
    uint64_t bar = bar_at(plan.bars_per_second, from_us);
    auto entry = song->sequence.begin();
    std::advance(entry, static_cast<long>(bar % length));
    for (;; ++bar) {
        if (entry == song->sequence.end()) entry = song->sequence.begin();
        uint64_t bar_start = beat_time_us(plan.bars_per_second, bar, 0, 1);
        if (bar_start >= to_us) return;
        if (bar_start >= from_us) out.positions.push_back({bar_start, bar % length});
        const Sprite* sp = entry_sprite(*song, *entry);
        const uint64_t beats = sp ? sp->notes.size() : 0;
        if (beats == 0) {
            // A silent bar still ends what sounds.
            if (bar_start >= from_us) emit_beat(bar_start, NoteSet(), sounding, out);
        }
        for (uint64_t j = 0; j < beats; ++j) {
            uint64_t t = beat_time_us(plan.bars_per_second, bar, j, beats);
            if (t >= to_us) return;
            if (t >= from_us) emit_beat(t, sp->notes[j], sounding, out);
        }
        ++entry;
    }
}

uint64_t next_beat_us(const play_plan_t& plan, uint64_t after_us)
{
    const Song* song = plan.song;
    if (!song || !(plan.bars_per_second > 0.0)) return never;
    uint64_t bar = bar_at(plan.bars_per_second, after_us);
    if (plan.mode == SingleSprite) {
        if (plan.sprite_index >= song->sprites.size()) return never;
        const uint64_t beats = song->sprites[plan.sprite_index].notes.size();
        if (beats == 0) return never;
        for (;; ++bar)
            for (uint64_t j = 0; j < beats; ++j) {
                uint64_t t = beat_time_us(plan.bars_per_second, bar, j, beats);
                if (t >= after_us) return t;
            }
    }
    const size_t length = song->sequence.size();
    if (length == 0) return never;
    auto entry = song->sequence.begin();
    std::advance(entry, static_cast<long>(bar % length));
    const Sprite* sp = entry_sprite(*song, *entry);
    const uint64_t beats = sp && sp->notes.size() ? sp->notes.size() : 1;
    for (uint64_t j = 0; j < beats; ++j) {
        uint64_t t = beat_time_us(plan.bars_per_second, bar, j, beats);
        if (t >= after_us) return t;
    }
    // Every entry begins with a beat (or a silent bar's end of what sounds).
    return beat_time_us(plan.bars_per_second, bar + 1, 0, 1);
}
