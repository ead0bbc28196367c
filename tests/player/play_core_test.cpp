#include "play_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// "t:+n" for a start, "t:-n" for an end, then "t:@p" for each position; t in microseconds.
std::vector<std::string> describe(const play_span_t& span)
{
    std::vector<std::string> out;
    for (const auto& e : span.events)
        out.push_back(std::to_string(e.time_us) + (e.on ? ":+" : ":-") + std::to_string(e.note));
    for (const auto& p : span.positions) out.push_back(std::to_string(p.time_us) + ":@" + std::to_string(p.position));
    return out;
}

void add_sprite(Song& song, uint64_t beats, std::vector<std::pair<unsigned, unsigned>> beat_notes)
{
    song.sprites.emplace_back(&song, beats);
    for (auto [b, n] : beat_notes) song.sprites.back().notes[b].set(n);
}

}  // namespace

TEST(PlayCore, EventsOfASpan)
{
    Song song;
    add_sprite(song, 4, {{0, 36}, {1, 42}, {2, 38}, {2, 42}});
    add_sprite(song, 3, {{0, 49}, {1, 46}, {2, 46}});
    add_sprite(song, 0, {});
    struct { const char* what; PlayMode mode; uint64_t sprite; std::list<uint32_t> sequence; double bps;
             uint64_t to; std::vector<std::string> expected; bool stop; } cases[] = {
        {"120 bpm", SingleSprite, 0, {}, 0.5, 2000000, {"0:+36", "500000:+42", "1000000:+38", "1000000:+42"}, false},
        {"exact thirds of a bar", SingleSprite, 1, {}, 1.0, 1000000, {"0:+49", "333334:+46", "666667:+46"}, false},
        {"a sprite of 0 beats", SingleSprite, 2, {}, 0.5, 10000000, {}, false},
        {"tempo 0", SingleSprite, 0, {}, 0.0, 10000000, {}, false},
        {"a sprite that is gone stops", SingleSprite, 7, {}, 0.5, 10, {}, true},
        {"a sequence ends what sounds before each beat", Sequence, 0, {0, 1}, 0.5, 2800000,
         {"0:+36", "500000:-36", "500000:+42", "1000000:-42", "1000000:+38", "1000000:+42", "1500000:-38",
          "1500000:-42", "2000000:+49", "2666667:-49", "2666667:+46", "0:@0", "2000000:@1"}, false},
        {"entries of 0 beats or naming no sprite are silent bars", Sequence, 0, {1, 2, 9, 1}, 1.0, 3000001,
         {"0:+49", "333334:-49", "333334:+46", "666667:-46", "666667:+46", "1000000:-46", "3000000:+49",
          "0:@0", "1000000:@1", "2000000:@2", "3000000:@3"}, false},
        {"an empty sequence stops", Sequence, 0, {}, 0.5, 10, {}, true},
    };
    for (const auto& c : cases) {
        song.sequence = c.sequence;
        NoteSet sounding;   // what sounds at 0: nothing
        play_span_t span;
        play_span(play_plan_t{&song, c.mode, c.sprite, c.bps}, 0, c.to, sounding, span);
        EXPECT_EQ(describe(span), c.expected) << c.what;
        EXPECT_EQ(span.stop, c.stop) << c.what;
    }
}

// Time cut into spans gives what one span gives; the next beat after a moment
// comes no later than the next event.
TEST(PlayCore, SpansJoinWithoutGapOrRepeat)
{
    Song song;
    add_sprite(song, 16, {{0, 36}, {4, 38}, {8, 36}, {12, 38}, {3, 42}, {7, 42}, {15, 46}});
    add_sprite(song, 7, {{0, 49}, {2, 38}, {5, 38}, {6, 41}});
    song.sequence = {0, 1, 0, 0, 1};
    const uint64_t end = 120000000;   // two minutes
    for (PlayMode mode : {SingleSprite, Sequence}) {
        for (double bps : {0.75, 1000.0 / 240.0, 1.0 / 240.0}) {
            play_plan_t plan{&song, mode, 1, bps};
            NoteSet whole_sounding, cut_sounding;
            play_span_t whole, joined;   // play_span appends, so the pieces add up in `joined`
            play_span(plan, 0, end, whole_sounding, whole);
            std::vector<uint64_t> cuts = {0, end};   // at each event, where a closed or open end shows, and after it
            for (const auto& e : whole.events) cuts.insert(cuts.end(), {e.time_us, e.time_us + e.time_us % 7919});
            std::sort(cuts.begin(), cuts.end());
            cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
            for (size_t i = 0; i + 1 < cuts.size() && cuts[i + 1] <= end; ++i)
                play_span(plan, cuts[i], cuts[i + 1], cut_sounding, joined);
            EXPECT_EQ(describe(joined), describe(whole)) << "mode " << mode << " bps " << bps;
            EXPECT_EQ(cut_sounding, whole_sounding);
            for (size_t i = 0; i < whole.events.size(); i += 37) {
                uint64_t t = whole.events[i].time_us + 1, next = next_beat_us(plan, t);
                auto later = std::find_if(whole.events.begin() + i, whole.events.end(),
                                          [t](const play_event_t& e) { return e.time_us >= t; });
                EXPECT_GE(next, t);
                EXPECT_LE(next, later == whole.events.end() ? UINT64_MAX : later->time_us);
            }
        }
    }
}
