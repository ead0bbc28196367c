#include "midi_memory_platform.h"
#include "player.h"
#include "program.h"

#include <gtest/gtest.h>

#include <glibmm/main.h>

#include <chrono>
#include <memory>
#include <vector>

namespace {

using bytes_t = std::vector<unsigned char>;

// A song, a player on a clock the test moves, and the MIDI port on the
// in-memory platform.
struct rig_t {
    midi_memory_platform_t platform;
    Song song;
    uint32_t now = 0;
    Player player{[this] { return now; }};
    std::vector<uint64_t> positions;
    uint32_t origin = 0;   // clock reading at the last start

    explicit rig_t(uint32_t start = 0) : now(start)
    {
        platform.out_devices = {"memory"};
        midi_out.reset(create_midi_out());
        midi_out->open(0u);
        player.position_changed.connect([this](uint64_t p) { positions.push_back(p); });
    }
    ~rig_t() { midi_out.reset(); }

    Sprite& sprite(uint64_t beats, std::vector<std::pair<unsigned, unsigned>> beat_notes)
    {
        song.sprites.emplace_back(&song, beats);
        for (auto [b, n] : beat_notes) song.sprites.back().notes[b].set(n);
        return song.sprites.back();
    }
    // Ticks every millisecond from `from` to `until` (after the start; 0 marks a new start) and
    // returns the note messages with the tick at which each went out.
    std::vector<std::pair<uint32_t, bytes_t>> run(uint32_t from, uint32_t until)
    {
        std::vector<std::pair<uint32_t, bytes_t>> out;
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
    for (uint32_t start : {0u, 0xFFFFFFFFu - 3000u}) {   // also across the clock's wrap
        rig_t rig(start);
        rig.sprite(8, {{0, 36}, {1, 42}, {2, 42}, {3, 42}, {4, 38}, {5, 42}, {6, 42}, {7, 42}});
        rig.player.start_sprite(rig.song, 0);
        auto notes = rig.run(0, 6100);
        ASSERT_EQ(notes.size(), 25u) << start;
        for (size_t i = 0; i < notes.size(); ++i) {
            EXPECT_EQ(notes[i].first, 2000 * (i / 8) + 250 * (i % 8)) << start << " note " << i;
            EXPECT_EQ(notes[i].second[0], 0x99);
            EXPECT_EQ(notes[i].second[2], 127);
        }
    }
}

TEST(Player, SequencePositionsAndNoteOrder)
{
    rig_t rig;
    rig.sprite(4, {{0, 36}, {0, 42}, {1, 42}});
    rig.sprite(2, {});
    rig.song.sequence = {0, 1, 0};
    rig.player.start_sequence(rig.song);
    auto notes = rig.run(0, 6500);
    EXPECT_EQ(rig.positions, (std::vector<uint64_t>{0, 1, 2, 0}));
    std::vector<std::pair<uint32_t, bytes_t>> expected = {
        {0, {0x99, 36, 127}}, {0, {0x99, 42, 127}},                          // beat 0
        {500, {0x99, 36, 0}}, {500, {0x99, 42, 0}}, {500, {0x99, 42, 127}},  // beat 1
        {1000, {0x99, 42, 0}},                                               // beat 2 is silent
        {4000, {0x99, 36, 127}}, {4000, {0x99, 42, 127}},                    // third entry
        {4500, {0x99, 36, 0}}, {4500, {0x99, 42, 0}}, {4500, {0x99, 42, 127}},
        {5000, {0x99, 42, 0}},
        {6000, {0x99, 36, 127}}, {6000, {0x99, 42, 127}},                    // and round again
        {6500, {0x99, 36, 0}}, {6500, {0x99, 42, 0}}, {6500, {0x99, 42, 127}},
    };
    EXPECT_EQ(notes, expected);
}

TEST(Player, TempoChangeKeepsThePosition)
{
    rig_t rig;
    rig.sprite(4, {{0, 36}, {1, 36}, {2, 36}, {3, 36}});
    rig.player.start_sprite(rig.song, 0);
    auto before = rig.run(0, 1000);   // 120 bpm: beats at 0, 500, 1000
    EXPECT_EQ(before.size(), 3u);
    rig.player.set_tempo(60);         // half a bar left, now 2 s long
    auto after = rig.run(1001, 5000);
    ASSERT_GE(after.size(), 2u);
    EXPECT_NEAR(after[0].first, 2000, 1);
    EXPECT_NEAR(after[1].first, 3000, 1);
}

TEST(Player, DisplayMessagesAndRestart)
{
    rig_t rig;
    rig.sprite(4, {});
    rig.song.sequence = {0};
    rig.player.start_sequence(rig.song);
    EXPECT_TRUE(rig.player.is_playing());
    bytes_t start = {0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x00, 0x00};
    for (char c : std::string("GroovePlotterStudio ")) start.push_back(static_cast<unsigned char>(c));
    unsigned sum = 0x20;
    for (char c : std::string("GroovePlotterStudio ")) sum += static_cast<unsigned char>(c);
    start.push_back((0u - sum) & 0x7F);
    start.push_back(0xF7);
    ASSERT_EQ(rig.platform.sent.size(), 1u);
    EXPECT_EQ(rig.platform.sent[0].bytes, start);

    rig.run(0, 2500);
    rig.player.start_sprite(rig.song, 0);   // a restart sends the display again, from time 0
    EXPECT_EQ(rig.platform.sent.back().bytes, start);
    EXPECT_EQ(rig.player.last_elapsed_ms, 0xFFFFFFFFu);
    rig.player.stop();
    EXPECT_FALSE(rig.player.is_playing());
    EXPECT_EQ(rig.platform.sent.back().bytes,
              (bytes_t{0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x01, 0x00, 0x00, 0x5F, 0xF7}));
}

// What a changed song does to a running player: never read outside it.
TEST(Player, MeetsAChangedSong)
{
    struct { const char* name; PlayMode mode; void (*change)(Song&); bool plays; } cases[] = {
        {"sequence emptied", Sequence, [](Song& s) { s.sequence.clear(); }, false},
        {"sprite gone", SingleSprite, [](Song& s) { s.sprites.clear(); }, false},
        {"entry names no sprite", Sequence, [](Song& s) { s.sprites.pop_back(); }, true},
        {"tempo 0", Sequence, [](Song& s) { s.bpm = 0; }, true},
    };
    for (const auto& c : cases) {
        rig_t rig;
        rig.sprite(4, {{0, 36}});
        rig.sprite(0, {});
        rig.song.sequence = {1, 0};
        if (c.mode == Sequence) c.change(rig.song);
        c.mode == Sequence ? rig.player.start_sequence(rig.song) : rig.player.start_sprite(rig.song, 0);
        if (c.mode == SingleSprite) c.change(rig.song);
        auto notes = rig.run(0, 5000);
        EXPECT_EQ(rig.player.is_playing(), c.plays) << c.name;
        if (c.name == std::string("entry names no sprite")) {
            // The entry without a sprite is a silent bar; the next one plays.
            ASSERT_FALSE(notes.empty()) << c.name;
            EXPECT_EQ(notes[0].first, 2000u) << c.name;
        }
        if (!c.plays) {
            EXPECT_EQ(rig.platform.sent.back().bytes[6], 0x01) << c.name;   // the reset message
        }
    }
}

// On a real main loop the player plays, and sleeps between its beats.
TEST(Player, SleepsBetweenBeatsOnTheMainLoop)
{
    rig_t rig;
    unsigned clock_reads = 0;
    Player player([&] {
        ++clock_reads;
        using namespace std::chrono;
        return static_cast<uint32_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    });
    rig.sprite(4, {{0, 36}, {1, 38}, {2, 36}, {3, 38}});
    auto loop = Glib::MainLoop::create();
    Glib::signal_timeout().connect_once([&] { loop->quit(); }, 1100);
    player.start_sprite(rig.song, 0);
    loop->run();
    player.stop();
    size_t notes = 0;
    for (const auto& m : rig.platform.sent) notes += m.bytes.size() == 3;
    EXPECT_EQ(notes, 3u);           // 120 bpm, four beats a bar: 0, 500, 1000 ms
    EXPECT_LT(clock_reads, 400u);   // woken at most every 10 ms, not spinning
}
