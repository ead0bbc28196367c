#include "play_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

// "t:+n" for a start, "t:-n" for an end, then "t:@p" for each position.
std::vector<std::string> describe(const play_record_t& r)
{
    std::vector<std::string> out;
    for (const auto& e : r.events) out.push_back(std::to_string(e.time) + (e.on() ? ":+" : ":-") + std::to_string(e.note));
    for (const auto& p : r.positions) out.push_back(std::to_string(p.time) + ":@" + std::to_string(p.entry));
    return out;
}

void add_sprite(Song& song, uint64_t beats, std::vector<std::pair<unsigned, unsigned>> beat_notes)
{
    song.sprites.emplace_back(&song, beats);
    for (auto [b, n] : beat_notes) song.sprites.back().notes[b].set(n);
}

play_plan_t plan_of(const song_snapshot_t& snapshot, PlayMode mode, uint64_t sprite, double bps, double rate)
{
    play_plan_t plan{&snapshot, mode, sprite, {}};
    plan.timeline.rate = rate;
    plan.timeline.bars_per_second = bps;
    return plan;
}

}  // namespace

// Times in microseconds (rate 1e6). A case renders its spans, from and to,
// one after the other: a gap between two is a period missed, and a new tempo
// takes effect where the second begins.
TEST(PlayCore, EventsOfSpans)
{
    Song song;
    add_sprite(song, 4, {{0, 36}, {1, 42}, {2, 38}, {2, 42}});
    add_sprite(song, 3, {{0, 49}, {1, 46}, {2, 46}});
    add_sprite(song, 0, {});
    add_sprite(song, 2, {{0, 36}, {0, 38}, {1, 38}});
    add_sprite(song, 8, {{0, 36}, {1, 37}, {2, 38}, {3, 39}, {4, 40}, {5, 41}, {6, 42}, {7, 43}});
    struct { const char* what; PlayMode mode; uint64_t sprite; std::list<uint32_t> sequence; double bps;
             std::vector<uint64_t> spans; std::vector<std::string> expected; bool plays; uint8_t swing = 50;
             double new_bps = 0.0; } cases[] = {
        {"120 bpm", SingleSprite, 0, {}, 0.5, {0, 2000000}, {"0:+36", "500000:+42", "1000000:+38", "1000000:+42"}, true},
        {"swing 66: odd beats late", SingleSprite, 0, {}, 0.5, {0, 2000000},
         {"0:+36", "660000:+42", "1000000:+38", "1000000:+42"}, true, 66},
        {"thirds of a bar, rounded", SingleSprite, 1, {}, 1.0, {0, 1000000}, {"0:+49", "333333:+46", "666667:+46"}, true},
        {"a sprite of 0 beats", SingleSprite, 2, {}, 0.5, {0, 10000000}, {}, true},
        {"tempo 0", SingleSprite, 0, {}, 0.0, {0, 10000000}, {}, true},
        {"a sprite that is gone stops", SingleSprite, 7, {}, 0.5, {0, 10}, {}, false},
        {"beats whose time passed unrendered are dropped, never written late", SingleSprite, 4, {}, 0.5,
         {0, 270000, 830000, 1040000}, {"0:+36", "250000:+37", "1000000:+40"}, true},
        {"a tempo change keeps the place in the bar: from 120 to 60 bpm at beat 5", SingleSprite, 4, {}, 0.5,
         {0, 1250000, 1250000, 2800000}, {"0:+36", "250000:+37", "500000:+38", "750000:+39", "1000000:+40",
                                          "1250000:+41", "1750000:+42", "2250000:+43", "2750000:+36"}, true, 50, 0.25},
        {"each note ends, then starts again, before the next note", Sequence, 0, {3, 0}, 1.0, {0, 1500000},
         {"0:+36", "0:+38", "500000:-36", "500000:-38", "500000:+38", "1000000:+36", "1000000:-38",
          "1250000:-36", "1250000:+42", "0:@0", "1000000:@1"}, true},
        {"entries of 0 beats or naming no sprite are silent bars", Sequence, 0, {1, 2, 9, 1}, 1.0, {0, 3000001},
         {"0:+49", "333333:+46", "333333:-49", "666667:-46", "666667:+46", "1000000:-46", "3000000:+49",
          "0:@0", "1000000:@1", "2000000:@2", "3000000:@3"}, true},
        {"an empty sequence stops", Sequence, 0, {}, 0.5, {0, 10}, {}, false},
    };
    for (const auto& c : cases) {
        song.sequence = c.sequence;
        song.swing = c.swing;
        const song_snapshot_t snapshot(song);
        play_plan_t plan = plan_of(snapshot, c.mode, c.sprite, c.bps, 1e6);
        play_state_t state;
        play_record_t r;
        bool plays = true;
        for (size_t i = 0; i + 1 < c.spans.size(); i += 2) {
            if (i > 0 && c.new_bps > 0.0) plan.timeline.set_tempo(c.spans[i], c.new_bps);
            plays = play_span(plan, c.spans[i], c.spans[i + 1], state, r);
        }
        EXPECT_EQ(plays, c.plays) << c.what;
        EXPECT_EQ(describe(r), c.expected) << c.what;
    }
}

// Time cut into spans (a driver's periods, of any length) gives what one
// span gives, at sensible tempos and beyond them; the next beat after a
// moment is the next event's time (every beat here has a note). Beyond every
// sensible tempo only the beat current at each millisecond sounds.
TEST(PlayCore, SpansJoinWithoutGapOrRepeat)
{
    Song song;
    add_sprite(song, 16, {{0, 36}, {4, 38}, {8, 36}, {12, 38}, {15, 46}});
    add_sprite(song, 7, {{0, 49}, {2, 38}, {5, 38}, {6, 41}});
    for (Sprite& sp : song.sprites)
        for (NoteSet& beat : sp.notes) beat.set(42);
    song.sequence = {0, 1, 0, 0, 1};
    const song_snapshot_t snapshot(song);
    const uint64_t end = 48000 * 60;   // a minute of frames at 48 kHz
    for (PlayMode mode : {SingleSprite, Sequence}) {
        for (double bps : {0.75, 1000.0 / 240.0, 1.0 / 240.0, 4294967295.0 / 240.0}) {
            const play_plan_t plan = plan_of(snapshot, mode, 0, bps, 48000);
            play_state_t whole_state, cut_state;
            play_record_t whole, joined;
            play_span(plan, 0, end, whole_state, whole);
            ASSERT_FALSE(whole.events.empty());
            for (size_t i = 1; i < whole.events.size(); ++i)   // beats at least a millisecond apart
                ASSERT_FALSE(whole.events[i].time > whole.events[i - 1].time &&
                             whole.events[i].time < whole.events[i - 1].time + 48) << "bps " << bps << " event " << i;
            std::set<uint64_t> cuts = {0, end};
            for (const auto& e : whole.events) cuts.insert({e.time, e.time + e.time % 79});
            for (uint64_t t = 0; t < end; t += 4096) cuts.insert(t);
            for (auto from = cuts.begin(), to = std::next(from); to != cuts.end() && *to <= end; from = to++) {
                play_state_t before = cut_state;
                play_record_t piece;
                play_span(plan, *from, *to, cut_state, piece);
                const uint64_t next = next_beat(plan, *from, before);
                EXPECT_EQ(next, piece.events.empty() ? std::max(next, *to) : piece.events.front().time)
                    << "mode " << mode << " bps " << bps << " at " << *from;
                joined.events.insert(joined.events.end(), piece.events.begin(), piece.events.end());
                joined.positions.insert(joined.positions.end(), piece.positions.begin(), piece.positions.end());
            }
            EXPECT_EQ(describe(joined), describe(whole)) << "mode " << mode << " bps " << bps;
            EXPECT_EQ(cut_state.sounding, whole_state.sounding);
        }
    }
}
