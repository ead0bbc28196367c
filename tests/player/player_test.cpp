// The player on the in-memory platform, whose time the test moves period by
// period at 48 kHz (120 bpm is a bar of 96000 frames): what it does when the
// song or the device goes away under it, and at a tempo nothing can play.
#include "midi_memory_platform.h"
#include "player.h"
#include "program.h"

#include <gtest/gtest.h>

namespace {

using bytes_t = std::vector<unsigned char>;
using timed_t = std::vector<std::pair<uint64_t, bytes_t>>;   // frame, message

std::pair<uint64_t, bytes_t> on(uint64_t t, uint8_t note) { return {t, {0x99, note, 127}}; }
std::pair<uint64_t, bytes_t> off(uint64_t t, uint8_t note) { return {t, {0x99, note, 0}}; }

// Roland DT1 messages to the display at 20 00 00: the title's first 20 characters, and the reset.
const bytes_t start_message = {0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x00, 0x00, 'G', 'r', 'o', 'o', 'v', 'e', 'P',
                               'l', 'o', 't', 't', 'e', 'r', 'S', 't', 'u', 'd', 'i', 'o', ' ', 0x6C, 0xF7};
const bytes_t stop_message = {0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x01, 0x00, 0x00, 0x5F, 0xF7};

// A song of sprites with notes on some beats, the player, and the port.
struct rig_t {
    midi_memory_platform_t platform;
    Song song;
    Player player;
    std::vector<std::string> failures;
    uint64_t origin = 0;
    size_t taken = 0;

    explicit rig_t(std::vector<std::pair<uint64_t, std::vector<std::pair<unsigned, unsigned>>>> sprites)
    {
        for (auto& [beats, beat_notes] : sprites) {
            Sprite& sprite = song.sprites.emplace_back(&song, beats);
            for (auto [b, n] : beat_notes) sprite.notes[b].set(n);
        }
        platform.out_devices = {"memory"};
        midi_out.reset(create_midi_out());
        midi_out->open(0u);
        player.device_failed.connect([this](const std::string& why) { failures.push_back(why); });
    }
    ~rig_t() { midi_out.reset(); }

    // Moves time on, the main loop taking the reports after every period,
    // and gives what was sent since the last run, in frames since `origin`.
    timed_t run(uint64_t frames, uint64_t period = 64)
    {
        for (uint64_t done = 0; done < frames; done += period) {
            platform.advance(period, period);
            player.poll();
        }
        timed_t out;
        for (; taken < platform.sent.size(); ++taken)
            out.push_back({platform.sent[taken].time - origin, platform.sent[taken].bytes});
        return out;
    }
};

}  // namespace

// The song changing under the player: an entry naming no sprite is a silent
// bar; a sprite or sequence that is gone stops it with the stop message.
TEST(Player, SongGoneStops)
{
    struct { const char* name; PlayMode mode; void (*change)(Song&); bool plays; } cases[] = {
        {"entry names no sprite", Sequence, [](Song& s) { s.sprites.pop_back(); }, true},
        {"sequence emptied", Sequence, [](Song& s) { s.sequence.clear(); }, false},
        {"sprite gone", SingleSprite, [](Song& s) { s.sprites.clear(); }, false},
    };
    for (const auto& c : cases) {
        rig_t rig({{4, {{0, 36}}}, {2, {{0, 38}}}});
        rig.song.sequence = {0, 1};
        c.mode == Sequence ? rig.player.start_sequence(rig.song) : rig.player.start_sprite(rig.song, 0);
        rig.run(1000);
        c.change(rig.song);
        rig.player.update(rig.song);
        timed_t got = rig.run(96000 * 2);
        EXPECT_EQ(rig.player.is_playing(), c.plays) << c.name;
        EXPECT_EQ(!got.empty() && got.back().second == stop_message, !c.plays) << c.name;
        if (c.plays) {
            EXPECT_EQ(got, (timed_t{off(24000, 36), on(192000, 36)})) << c.name;
        }
    }
}

// A file tempo of 4294967295: bounded traffic, and a stop that stops.
TEST(Player, AbsurdTempoStaysBounded)
{
    rig_t rig({{8, {{0, 36}, {1, 38}, {2, 36}, {3, 38}, {4, 36}, {5, 38}, {6, 36}, {7, 38}}}});
    rig.song.bpm = 4294967295u;
    rig.song.sequence = {0};
    rig.player.start_sequence(rig.song);
    const timed_t got = rig.run(48000 * 10, 1024);
    EXPECT_GT(got.size(), 1000u);
    const uint64_t milliseconds = rig.platform.now() / 48;
    EXPECT_LE(got.size(), 1 + 2 * (milliseconds + 1)) << "one beat a millisecond at most, each ending the last";
    const uint64_t stopped = rig.platform.now();
    rig.player.stop();
    EXPECT_FALSE(rig.player.is_playing());
    EXPECT_EQ(rig.run(48000), (timed_t{{stopped, stop_message}})) << "nothing after the stop";
}

// The device going away stops playback with its reason; play then opens it
// again by its name, or says why it cannot.
TEST(Player, DeviceGoneAndBack)
{
    rig_t rig({{4, {{0, 36}}}});
    rig.song.sequence = {0};
    rig.player.start_sequence(rig.song);
    rig.run(1000);
    rig.platform.fail_output("JACK server has been closed");
    rig.run(1000);
    EXPECT_FALSE(rig.player.is_playing());
    EXPECT_EQ(rig.failures, std::vector<std::string>{"JACK server has been closed"});

    rig.origin = rig.platform.now();
    rig.player.start_sequence(rig.song);
    EXPECT_TRUE(rig.player.is_playing());
    EXPECT_EQ(rig.run(100), (timed_t{{0, start_message}, on(0, 36)})) << "the same device, opened again";

    rig.platform.fail_output("gone");
    rig.run(100);
    rig.platform.out_devices = {"another"};
    rig.player.start_sequence(rig.song);
    EXPECT_FALSE(rig.player.is_playing());
    EXPECT_EQ(rig.failures.back(), "memory: device name not found.");
}
