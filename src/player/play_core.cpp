#include "play_core.h"

#include <algorithm>
#include <cmath>

song_snapshot_t::song_snapshot_t(const Song& song) : channel(song.channel), clock(song.clock)
{
    // Beat starts from the song's own swing rule, in a unit fine enough that
    // its whole numbers are exact positions.
    constexpr uint64_t unit = uint64_t(1) << 40;
    const NoteSet audible = song.audible();
    sprites.reserve(song.sprites.size());
    for (const Sprite& sp : song.sprites) {
        const uint64_t count = sp.notes.size();
        sprites.push_back({static_cast<uint32_t>(count), static_cast<uint32_t>(beats.size())});
        for (uint64_t k = 0; k < count; ++k) {
            beat_t beat{sp.notes[k] & audible, double(song.beat_start(count, k, unit)) / double(unit),
                        static_cast<uint32_t>(soft.size()), 0};
            if (k < sp.velocities.size())
                for (const NoteVelocity& v : sp.velocities[k])
                    if (beat.notes.test(v.note)) soft.push_back(v), ++beat.soft_count;
            beats.push_back(beat);
        }
    }
    sequence.assign(song.sequence.begin(), song.sequence.end());
}

uint8_t song_snapshot_t::velocity(const beat_t& beat, uint8_t note) const
{
    for (uint32_t i = beat.soft_first; i < beat.soft_first + beat.soft_count; ++i)
        if (soft[i].note == note) return soft[i].velocity;
    return full_velocity;
}

double play_timeline_t::bar_at(uint64_t time) const
{
    const double since = time >= anchor ? double(time - anchor) : -double(anchor - time);
    return anchor_bar + since * bars_per_second / rate;
}

uint64_t play_timeline_t::time_of(double bar) const
{
    const double t = double(anchor) + (bar - anchor_bar) * rate / bars_per_second;
    if (!(t < 9.0e18)) return play_never;   // beyond any span (or no tempo at all)
    return t <= 0.0 ? 0 : static_cast<uint64_t>(std::llround(t));
}

void play_timeline_t::set_tempo(uint64_t time, double bps)
{
    anchor_bar = bar_at(time);
    anchor = time;
    bars_per_second = bps;
}

namespace {

// Beat k of bar b. A bar of the sequence whose sprite has no beats, or names
// no sprite, is one silent beat: it still ends what sounds.
struct beat_t {
    uint64_t bar;
    uint32_t index;
};

class walker_t {
public:
    explicit walker_t(const play_plan_t& plan) : plan(plan), song(*plan.song) {}

    // Whether anything can play at all.
    bool playable() const
    {
        return plan.mode == Sequence ? !song.sequence.empty() : plan.sprite_index < song.sprites.size();
    }
    // Whether anything sounds as time goes on.
    bool moving() const
    {
        if (!(plan.timeline.bars_per_second > 0.0)) return false;
        return plan.mode == Sequence || song.sprites[plan.sprite_index].beats > 0;
    }

    uint64_t entry_of(uint64_t bar) const { return bar % song.sequence.size(); }

    // The sprite a bar plays; beyond the song's sprites when it names none.
    uint64_t sprite_index_of(uint64_t bar) const
    {
        return plan.mode == Sequence ? song.sequence[entry_of(bar)] : plan.sprite_index;
    }
    const song_snapshot_t::sprite_t* sprite_of(uint64_t bar) const
    {
        const uint64_t s = sprite_index_of(bar);
        return s < song.sprites.size() && song.sprites[s].beats > 0 ? &song.sprites[s] : nullptr;
    }
    uint32_t beats_of(uint64_t bar) const
    {
        const auto* sp = sprite_of(bar);
        return sp ? sp->beats : 1;
    }
    // The beat's notes and velocities; null for a silent bar.
    const song_snapshot_t::beat_t* beat_of(beat_t x) const
    {
        const auto* sp = sprite_of(x.bar);
        return sp ? &song.beats[sp->first + x.index] : nullptr;
    }
    const song_snapshot_t& snapshot() const { return song; }

    uint64_t time_of(beat_t x) const { return plan.timeline.time_of(start_of(x)); }
    beat_t next(beat_t x) const
    {
        return x.index + 1 < beats_of(x.bar) ? beat_t{x.bar, x.index + 1} : beat_t{x.bar + 1, 0};
    }
    // The beat whose span holds `time`; its time is never after `time`.
    beat_t containing(uint64_t time) const
    {
        const double p = std::max(0.0, plan.timeline.bar_at(time));
        const double whole = std::floor(p);
        const uint64_t bar = static_cast<uint64_t>(whole);
        const auto* sp = sprite_of(bar);
        if (!sp) return {bar, 0};
        // The last beat of the bar that begins at or before p.
        const auto first = song.beats.begin() + sp->first, last = first + sp->beats;
        const auto after = std::upper_bound(first, last, p - whole, [](double at, const song_snapshot_t::beat_t& b) {
            return at < b.start;
        });
        return {bar, static_cast<uint32_t>(std::max<std::ptrdiff_t>(1, after - first) - 1)};
    }

    uint64_t gap() const { return std::max<uint64_t>(1, uint64_t(std::ceil(plan.timeline.rate * min_beat_seconds))); }

    // The first beat written at or after `from`, and when. Beats are told
    // apart by where they begin in the song, not by their rounded times.
    void first(uint64_t from, const play_state_t& state, beat_t& x, uint64_t& at) const
    {
        const bool any = state.last_beat != play_never;
        const bool forced = any && state.last_beat + gap() > from;
        const uint64_t c = forced ? state.last_beat + gap() : from;
        x = containing(c);
        const uint64_t t = time_of(x);
        if (t > c) {   // before the timeline's start: its first beat
            at = t;
            return;
        }
        const bool fresh = !any || start_of(x) > state.last_start;
        // Too close behind the last beat: the beat current then, if it is a
        // new one. Otherwise only a beat that begins now or later: one that
        // began before was written already, or its time has passed.
        if (fresh && (forced || t == c)) {
            at = c;
            return;
        }
        x = next(x);
        at = time_of(x);
    }

    double start_of(beat_t x) const
    {
        const auto* b = beat_of(x);
        return double(x.bar) + (b ? b->start : 0.0);
    }

    // MIDI clock: pulse k falls on k / pulses_per_bar of the song. The first
    // pulse at or after `time`, no earlier than pulse `k`.
    uint64_t pulse_time(uint64_t k) const { return plan.timeline.time_of(double(k) / pulses_per_bar); }
    uint64_t first_pulse(uint64_t time, uint64_t k) const
    {
        const double at = std::ceil(std::max(0.0, plan.timeline.bar_at(time)) * pulses_per_bar);
        uint64_t j = std::max(k, static_cast<uint64_t>(at));
        while (j > k && pulse_time(j - 1) >= time) --j;
        while (pulse_time(j) < time) ++j;
        return j;
    }
    // The pulse written after pulse k at `time`: pulses too close to be told
    // apart are passed over, as beats are.
    uint64_t pulse_after(uint64_t k, uint64_t time) const { return first_pulse(time + gap(), k + 1); }

private:
    const play_plan_t& plan;
    const song_snapshot_t& song;
};

// At each beat, note by note: the end of what sounded, then the new start.
void write_beat(const play_plan_t& plan, const walker_t& walk, beat_t x, uint64_t at, play_state_t& state,
                play_sink_t& sink)
{
    state.last_beat = at;
    state.last_start = walk.start_of(x);
    const song_snapshot_t::beat_t* incoming = walk.beat_of(x);
    const auto velocity = [&](size_t n) { return walk.snapshot().velocity(*incoming, static_cast<uint8_t>(n)); };
    if (incoming) sink.step(at, walk.sprite_index_of(x.bar), x.index);
    if (plan.mode == SingleSprite) {
        // A single sprite leaves its notes to ring: only starts go out.
        for (size_t n = incoming->notes._Find_first(); n < 128; n = incoming->notes._Find_next(n))
            sink.note(at, static_cast<uint8_t>(n), velocity(n));
        return;
    }
    if (x.bar != state.last_bar) {
        state.last_bar = x.bar;
        sink.position(at, walk.entry_of(x.bar));
    }
    const NoteSet now = incoming ? incoming->notes : NoteSet();
    const NoteSet either = state.sounding | now;
    for (size_t n = either._Find_first(); n < 128; n = either._Find_next(n)) {
        if (state.sounding.test(n)) sink.note(at, static_cast<uint8_t>(n), 0);
        if (now.test(n)) sink.note(at, static_cast<uint8_t>(n), velocity(n));
    }
    state.sounding = now;
}

}  // namespace

bool play_span(const play_plan_t& plan, uint64_t from, uint64_t to, play_state_t& state, play_sink_t& sink)
{
    if (!plan.song) return false;
    const walker_t walk(plan);
    if (!walk.playable()) return false;
    if (!walk.moving() || from >= to) return true;

    beat_t x;
    uint64_t at;
    walk.first(from, state, x, at);
    // Pulses and beats in one stream in time order, a pulse before the
    // notes of its frame; a pulse whose time passed unwritten is dropped.
    uint64_t k = plan.clock ? walk.first_pulse(from, state.next_pulse) : play_never;
    for (;;) {
        const uint64_t pulse = k == play_never ? play_never : walk.pulse_time(k);
        if (pulse < to && pulse <= at) {
            sink.pulse(pulse);
            k = walk.pulse_after(k, pulse);
            continue;
        }
        if (at >= to)
            break;
        write_beat(plan, walk, x, at, state, sink);
        walk.first(at + 1, state, x, at);
    }
    if (k != play_never)
        state.next_pulse = k;
    return true;
}

uint64_t next_beat(const play_plan_t& plan, uint64_t after, const play_state_t& state)
{
    if (!plan.song) return play_never;
    const walker_t walk(plan);
    if (!walk.playable() || !walk.moving()) return play_never;
    beat_t x;
    uint64_t at;
    walk.first(after, state, x, at);
    if (plan.clock)
        at = std::min(at, walk.pulse_time(walk.first_pulse(after, state.next_pulse)));
    return at;
}
