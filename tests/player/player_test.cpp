// The player on the in-memory platform, whose time the test moves period by
// period at 48 kHz: the display's messages at their frames, and a song that
// goes away under the player. (The device going away is met on a real JACK
// server, in player_jack_test.)
#include "midi_memory_platform.h"
#include "player.h"
#include "program.h"

#include <gtest/gtest.h>

using bytes_t = std::vector<unsigned char>;
using timed_t = std::vector<std::pair<uint64_t, bytes_t>>;   // frame, message

// The display's title (Roland DT1 at 20 00 00: the title's first 20
// characters) and the first beat on the start's frame; the sprite played
// going away stops playback at once, with the display's reset.
TEST(Player, SongGoneStops)
{
    midi_memory_platform_t platform;
    platform.out_devices = {"memory"};
    midi_out.reset(create_midi_out());
    EXPECT_TRUE(midi_out->open(0u));
    Song song;
    song.sprites.emplace_back(&song, 4).notes[0].set(36);
    Player player;
    const auto run = [&] {   // 1024 frames, the main loop taking the reports after every period
        for (int i = 0; i < 16; ++i) platform.advance(64, 64), player.poll();
    };
    player.start_sprite(song, 0);
    run();
    song.sprites.clear();
    player.update(song);
    run();
    EXPECT_FALSE(player.is_playing());
    timed_t sent;
    for (const auto& m : platform.sent) sent.push_back({m.time, m.bytes});
    EXPECT_EQ(sent, (timed_t{{0, {0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x00, 0x00, 'G', 'r', 'o', 'o', 'v', 'e', 'P', 'l',
                                  'o', 't', 't', 'e', 'r', 'S', 't', 'u', 'd', 'i', 'o', ' ', 0x6C, 0xF7}},
                             {0, {0x99, 36, 127}},
                             {1024, {0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x01, 0x00, 0x00, 0x5F, 0xF7}}}));
    midi_out.reset();   // before the platform goes
}
