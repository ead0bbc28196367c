#include "play_core.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// "t:+n" for a start, "t:-n" for an end, "t:@p" for a position, t in microseconds.
std::vector<std::string> describe(const play_span_t& span)
{
    std::vector<std::string> out;
    size_t e = 0, p = 0;
    while (e < span.events.size() || p < span.positions.size()) {
        bool position_first = p < span.positions.size() &&
                              (e == span.events.size() || span.positions[p].time_us <= span.events[e].time_us);
        if (position_first) {
            out.push_back(std::to_string(span.positions[p].time_us) + ":@" + std::to_string(span.positions[p].position));
            ++p;
        } else {
            const play_event_t& ev = span.events[e++];
            out.push_back(std::to_string(ev.time_us) + (ev.on ? ":+" : ":-") + std::to_string(ev.note));
        }
    }
    return out;
}

Sprite& add_sprite(Song& song, uint64_t beats, std::vector<std::pair<unsigned, unsigned>> beat_notes)
{
    song.sprites.emplace_back(&song, beats);
    for (auto [b, n] : beat_notes) song.sprites.back().notes[b].set(n);
    return song.sprites.back();
}

}  // namespace

TEST(PlayCore, EventsOfASpan)
{
    Song song;
    song.sprites.clear();
    add_sprite(song, 4, {{0, 36}, {1, 42}, {2, 38}, {2, 42}});   // 0
    add_sprite(song, 3, {{0, 49}, {1, 46}, {2, 46}});           // 1
    add_sprite(song, 0, {});                                    // 2
    const double bps_120 = 0.5;   // 120 bpm: a bar of 2 s

    struct {
        const char* what; PlayMode mode; uint64_t sprite; std::list<uint32_t> sequence; double bps;
        uint64_t from, to; std::vector<std::string> expected; bool stop;
    } cases[] = {
        {"a sprite's first pass", SingleSprite, 0, {}, bps_120, 0, 2000000,
         {"0:+36", "500000:+42", "1000000:+38", "1000000:+42"}, false},
        {"the next pass, and the span's end is open", SingleSprite, 0, {}, bps_120, 2000000, 3500000,
         {"2000000:+36", "2500000:+42", "3000000:+38", "3000000:+42"}, false},
        {"a span inside one beat holds nothing", SingleSprite, 0, {}, bps_120, 500001, 999999, {}, false},
        {"three beats to the bar fall on exact thirds", SingleSprite, 1, {}, 1.0, 0, 1000000,
         {"0:+49", "333334:+46", "666667:+46"}, false},
        {"a sprite of 0 beats", SingleSprite, 2, {}, bps_120, 0, 10000000, {}, false},
        {"tempo 0", SingleSprite, 0, {}, 0.0, 0, 10000000, {}, false},
        {"a sprite that is gone stops", SingleSprite, 7, {}, bps_120, 0, 10, {}, true},
        {"a sequence ends what sounds before each beat", Sequence, 0, {0, 1}, bps_120, 0, 2800000,
         {"0:@0", "0:+36", "500000:-36", "500000:+42", "1000000:-42", "1000000:+38", "1000000:+42",
          "1500000:-38", "1500000:-42", "2000000:@1", "2000000:+49", "2666667:-49", "2666667:+46"}, false},
        {"it loops through the entries", Sequence, 0, {0, 1}, bps_120, 5000000, 6000001,
         {"5000000:-42", "5000000:+38", "5000000:+42", "5500000:-38", "5500000:-42", "6000000:@1",
          "6000000:+49"}, false},
        {"an entry of 0 beats and one that names no sprite are silent bars", Sequence, 0, {1, 2, 9, 1},
         1.0, 600000, 3000001,
         {"666667:-46", "666667:+46", "1000000:@1", "1000000:-46", "2000000:@2", "3000000:@3", "3000000:+49"},
         false},
        {"an empty sequence stops", Sequence, 0, {}, bps_120, 0, 10, {}, true},
    };
    for (const auto& c : cases) {
        song.sequence = c.sequence;
        play_plan_t plan{&song, c.mode, c.sprite, c.bps};
        NoteSet sounding;
        play_span_t span;
        // What sounds at `from` is what the spans before it left.
        if (c.from > 0) play_span(plan, 0, c.from, sounding, span);
        span.clear();
        play_span(plan, c.from, c.to, sounding, span);
        EXPECT_EQ(describe(span), c.expected) << c.what;
        EXPECT_EQ(span.stop, c.stop) << c.what;
    }
}

// Cutting time into spans of any length gives the same events as one span.
TEST(PlayCore, SpansJoinWithoutGapOrRepeat)
{
    Song song;
    song.sprites.clear();
    add_sprite(song, 16, {{0, 36}, {4, 38}, {8, 36}, {12, 38}, {3, 42}, {7, 42}, {15, 46}});
    add_sprite(song, 7, {{0, 49}, {2, 38}, {5, 38}, {6, 41}});
    song.sequence = {0, 1, 0, 0, 1};
    for (PlayMode mode : {SingleSprite, Sequence}) {
        for (double bps : {0.75, 180.0 / 240.0, 1000.0 / 240.0, 1.0 / 240.0}) {
            play_plan_t plan{&song, mode, 1, bps};
            NoteSet whole_sounding, cut_sounding;
            play_span_t whole, piece;
            const uint64_t end = 120000000;   // two minutes
            play_span(plan, 0, end, whole_sounding, whole);
            std::vector<std::string> joined;
            uint64_t step = 997;
            for (uint64_t t = 0; t < end; t += step, step = step * 7 % 100003 + 1) {
                piece.clear();
                play_span(plan, t, std::min(end, t + step), cut_sounding, piece);
                for (const std::string& s : describe(piece)) joined.push_back(s);
            }
            EXPECT_EQ(joined, describe(whole)) << "mode " << mode << " bps " << bps;
            EXPECT_EQ(cut_sounding, whole_sounding);

            // The next beat after any moment comes no later than the next event.
            for (size_t i = 0; i + 1 < whole.events.size(); i += 37) {
                uint64_t t = whole.events[i].time_us + 1;
                size_t next = i;
                while (next < whole.events.size() && whole.events[next].time_us < t) ++next;
                if (next == whole.events.size()) break;
                EXPECT_LE(next_beat_us(plan, t), whole.events[next].time_us);
                EXPECT_GE(next_beat_us(plan, t), t);
            }
        }
    }
}
