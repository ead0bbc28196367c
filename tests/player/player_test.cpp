#include "midi_memory_platform.h"
#include "player.h"
#include "program.h"

#include <gtest/gtest.h>

#include <glibmm/main.h>

#include <vector>

namespace {

using bytes_t = std::vector<unsigned char>;
using notes_t = std::vector<std::pair<uint32_t, bytes_t>>;   // ms after the start, note message

std::pair<uint32_t, bytes_t> on(uint32_t t, uint8_t note) { return {t, {0x99, note, 127}}; }
std::pair<uint32_t, bytes_t> off(uint32_t t, uint8_t note) { return {t, {0x99, note, 0}}; }

// Roland DT1 messages to the display at 20 00 00: the title's first 20 characters, and the reset.
const bytes_t start_message = {0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x00, 0x00, 'G', 'r', 'o', 'o', 'v', 'e', 'P',
                               'l', 'o', 't', 't', 'e', 'r', 'S', 't', 'u', 'd', 'i', 'o', ' ', 0x6C, 0xF7};
const bytes_t stop_message = {0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x01, 0x00, 0x00, 0x5F, 0xF7};

// A song, a player on a clock the test moves, and the port on the in-memory platform.
struct rig_t {
    midi_memory_platform_t platform;
    Song song;
    uint32_t now, origin = 0;
    Player player{[this] { return now; }};
    std::vector<uint64_t> positions;

    explicit rig_t(uint32_t start = 0) : now(start)
    {
        platform.out_devices = {"memory"};
        midi_out.reset(create_midi_out());
        midi_out->open(0u);
        player.position_changed.connect([this](uint64_t p) { positions.push_back(p); });
    }
    ~rig_t() { midi_out.reset(); }

    void sprite(uint64_t beats, std::vector<std::pair<unsigned, unsigned>> beat_notes)
    {
        song.sprites.emplace_back(&song, beats);
        for (auto [b, n] : beat_notes) song.sprites.back().notes[b].set(n);
    }
    // Ticks every millisecond of [from, until] after the start (from 0: after a new
    // start), so a tick inside a beat that sent anything would show.
    notes_t run(uint32_t from, uint32_t until)
    {
        notes_t out;
        if (from == 0) origin = player.start_time_ms;
        for (uint32_t t = from; t <= until; ++t) {
            now = origin + t;
            size_t before = platform.sent.size();
            player.on_idle();
            for (size_t i = before; i < platform.sent.size(); ++i)
                if (platform.sent[i].bytes.size() == 3) out.push_back({t, platform.sent[i].bytes});
        }
        return out;
    }
};

}  // namespace

TEST(Player, BeatTimesOfALoopedSprite)
{
    for (uint32_t start : {0u, 0xFFFFFFFFu - 3000u}) {   // the second start crosses the clock's wrap
        rig_t rig(start);
        rig.sprite(8, {{0, 36}, {1, 37}, {2, 38}, {3, 39}, {4, 40}, {5, 41}, {6, 42}, {7, 43}});
        rig.player.start_sprite(rig.song, 0);
        notes_t expected;   // beat k of pass n at 2000n + 250k ms
        for (uint32_t i = 0; i < 25; ++i)
            expected.push_back(on(2000 * (i / 8) + 250 * (i % 8), uint8_t(36 + i % 8)));
        EXPECT_EQ(rig.run(0, 6100), expected) << start;
    }
}

// A sequence's notes and positions, also after the song changed under the running
// player: an entry naming no sprite is a silent bar, what is gone stops it.
TEST(Player, SequenceNotesAndPositions)
{
    const notes_t notes = {on(0, 36), on(0, 42), off(500, 36), off(500, 42), on(500, 42), off(1000, 42),
                           on(4000, 36), on(4000, 42), off(4500, 36), off(4500, 42), on(4500, 42), off(5000, 42),
                           on(6000, 36), on(6000, 42), off(6500, 36), off(6500, 42), on(6500, 42)};
    struct { const char* name; PlayMode mode; void (*change)(Song&); bool plays; } cases[] = {
        {"unchanged", Sequence, [](Song&) {}, true},
        {"entry names no sprite", Sequence, [](Song& s) { s.sprites.pop_back(); }, true},
        {"sequence emptied", Sequence, [](Song& s) { s.sequence.clear(); }, false},
        {"sprite gone", SingleSprite, [](Song& s) { s.sprites.clear(); }, false},
    };
    for (const auto& c : cases) {
        rig_t rig;
        rig.sprite(4, {{0, 36}, {0, 42}, {1, 42}});
        rig.sprite(2, {});
        rig.song.sequence = {0, 1, 0};
        c.mode == Sequence ? rig.player.start_sequence(rig.song) : rig.player.start_sprite(rig.song, 0);
        c.change(rig.song);
        EXPECT_EQ(rig.run(0, 6500), c.plays ? notes : notes_t{}) << c.name;
        EXPECT_EQ(rig.positions, (c.plays ? std::vector<uint64_t>{0, 1, 2, 0} : std::vector<uint64_t>())) << c.name;
        EXPECT_EQ(rig.player.is_playing(), c.plays) << c.name;
        EXPECT_EQ(rig.platform.sent.back().bytes == stop_message, !c.plays) << c.name;
    }
}

// Tempo, restart and stop while playing, and what the display is sent.
TEST(Player, TempoRestartAndStop)
{
    rig_t rig;
    rig.sprite(4, {{0, 36}, {1, 37}, {2, 38}, {3, 39}});
    rig.song.sequence = {0};
    rig.player.start_sprite(rig.song, 0);
    ASSERT_EQ(rig.platform.sent.size(), 1u);
    EXPECT_EQ(rig.platform.sent[0].bytes, start_message);
    rig.run(0, 1000);          // 120 bpm: beats at 0, 500, 1000
    rig.player.set_tempo(60);  // one second into the bar: half of it is left, and it now lasts 2 s
    EXPECT_EQ(rig.run(1001, 5000), (notes_t{on(2000, 39), on(3000, 36), on(4000, 37), on(5000, 38)}));
    rig.player.start_sequence(rig.song);   // a restart shows the title again and plays from 0
    EXPECT_EQ(rig.platform.sent.back().bytes, start_message);
    EXPECT_EQ(rig.run(0, 0), notes_t{on(0, 36)});
    rig.run(1, 4500);
    EXPECT_EQ(rig.positions, std::vector<uint64_t>{0});   // one entry: its position never changes
    rig.player.stop();
    EXPECT_EQ(rig.platform.sent.back().bytes, stop_message);
    EXPECT_TRUE(rig.run(0, 2500).empty());
}

// On a real main loop the player plays, and sleeps between its beats.
TEST(Player, SleepsBetweenBeatsOnTheMainLoop)
{
    rig_t rig;
    unsigned clock_reads = 0;
    Player player([&] { ++clock_reads; return static_cast<uint32_t>(g_get_monotonic_time() / 1000); });
    rig.sprite(4, {{0, 36}, {1, 38}, {2, 36}, {3, 38}});
    auto loop = Glib::MainLoop::create();
    Glib::signal_timeout().connect_once([&] { loop->quit(); }, 1100);
    player.start_sprite(rig.song, 0);
    loop->run();
    EXPECT_EQ(rig.platform.sent.size(), 4u);   // the title, then notes at 0, 500 and 1000 ms
    EXPECT_LT(clock_reads, 400u);              // woken at most every 10 ms, not spinning
}
