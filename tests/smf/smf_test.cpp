#include "file_replace.h"
#include "smf_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>

namespace {

std::string file_bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string hex(const std::string& bytes)
{
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) out.append(buf, std::snprintf(buf, sizeof buf, " %02X", c));
    return out.erase(0, 1);
}

using hits_t = std::vector<std::pair<unsigned, unsigned>>;   // {beat, note}

// A song of sprites given as {beats, hits}, playing them in `order`.
std::shared_ptr<Song> song_of(std::vector<std::pair<uint64_t, hits_t>> sprites, std::vector<uint32_t> order,
                              uint64_t bpm = 120)
{
    auto song = std::make_shared<Song>();
    song->bpm = bpm;
    for (auto& [beats, hits] : sprites) {
        Sprite& sprite = song->sprites.emplace_back(song.get(), beats);
        for (auto [beat, note] : hits) sprite.notes[beat].set(note);
    }
    song->sequence.assign(order.begin(), order.end());
    return song;
}

const std::string head = "4D 54 68 64 00 00 00 06 00 00 00 01 01 E0 4D 54 72 6B 00 00 00 ";
const std::string t120 = "00 FF 51 03 07 A1 20";

}  // namespace

// Whole files, against bytes worked out by hand: the header, then the
// track's length and events up to its end, their times in one to four bytes;
// what playback hears of the song's groove settings is what the file holds.
TEST(Smf, ExactBytes)
{
    auto one_beat = [] { return song_of({{4, {{0, 36}, {0, 42}}}}, {0}); };
    auto kick = [] { return song_of({{4, {{0, 36}}}}, {0}); };
    struct { const char* name; std::shared_ptr<Song> song; std::function<void(Song&)> set; std::string track; } cases[] = {
        {"empty: 33 bytes", song_of({}, {}), nullptr, "0B " + t120 + " 00"},
        {"1000 bpm", song_of({}, {}, 1000), nullptr, "0B 00 FF 51 03 00 EA 60 00"},
        {"4 bpm", song_of({}, {}, 4), nullptr, "0B 00 FF 51 03 E4 E1 C0 00"},
        {"3 bpm: slower than 3 bytes say", song_of({}, {}, 3), nullptr, "0B 00 FF 51 03 FF FF FF 00"},
        {"one beat", kick(), nullptr, "15 " + t120 + " 00 99 24 7F 83 60 99 24 00 8B 20"},
        {"same sprite twice", song_of({{4, {{0, 36}}}}, {0, 0}), nullptr,
         "1F " + t120 + " 00 99 24 7F 83 60 99 24 00 8B 20 99 24 7F 83 60 99 24 00 8B 20"},
        {"silent entries end at 5760", song_of({{8, {}}}, {0, 0, 0}), nullptr, "0C " + t120 + " AD 00"},
        {"end at 17280", song_of({{8, {}}}, std::vector<uint32_t>(9)), nullptr, "0D " + t120 + " 81 87 00"},
        {"end at 2098560", song_of({{8, {}}}, std::vector<uint32_t>(1093)), nullptr, "0E " + t120 + " 81 80 8B 00"},
        {"notes of one beat ascending", song_of({{1, {{0, 42}, {0, 36}}}}, {0}), nullptr,
         "1C " + t120 + " 00 99 24 7F 00 99 2A 7F 8F 00 99 24 00 00 99 2A 00 00"},
        // on at 274, off at 548; on at 1097, off at 1371
        {"seven beats round down", song_of({{7, {{1, 36}, {4, 38}}}}, {0}), nullptr,
         "20 " + t120 + " 82 12 99 24 7F 82 12 99 24 00 84 25 99 26 7F 82 12 99 26 00 84 25"},
        {"zero beats still take a bar", song_of({{0, {}}}, {0}), nullptr, "0C " + t120 + " 8F 00"},
        // odd beat 1 at 3840 * 75 / 400 = 720, beat 2 at 960
        {"swing 75", song_of({{4, {{0, 36}, {1, 42}}}}, {0}), [](Song& s) { s.swing = 75; },
         "1E " + t120 + " 00 99 24 7F 85 50 99 24 00 00 99 2A 7F 81 70 99 2A 00 87 40"},
        // beat 3 at (192000 * 2 + 3840 * 58) / 800 = 758.4, its end at 960
        {"swing rounds down", song_of({{8, {{3, 36}}}}, {0}), [](Song& s) { s.swing = 58; },
         "16 " + t120 + " 85 76 99 24 7F 81 4A 99 24 00 87 40"},
        {"odd beat counts stay straight", song_of({{3, {{1, 36}}}}, {0}), [](Song& s) { s.swing = 75; },
         "16 " + t120 + " 85 00 99 24 7F 85 00 99 24 00 85 00"},
        {"velocity per note, offs at 0", one_beat(), [](Song& s) { s.sprites[0].set_velocity(0, 36, 64); },
         "1D " + t120 + " 00 99 24 40 00 99 2A 7F 83 60 99 24 00 00 99 2A 00 8B 20"},
        {"channel 1", kick(), [](Song& s) { s.channel = 1; }, "15 " + t120 + " 00 90 24 7F 83 60 90 24 00 8B 20"},
        {"channel 16", kick(), [](Song& s) { s.channel = 16; }, "15 " + t120 + " 00 9F 24 7F 83 60 9F 24 00 8B 20"},
        {"muted", one_beat(), [](Song& s) { s.mute.set(42); }, "15 " + t120 + " 00 99 24 7F 83 60 99 24 00 8B 20"},
        {"soloed", one_beat(), [](Song& s) { s.solo.set(42); }, "15 " + t120 + " 00 99 2A 7F 83 60 99 2A 00 8B 20"},
        {"soloed and muted", one_beat(), [](Song& s) { s.solo.set(42), s.mute.set(42); }, "0C " + t120 + " 8F 00"},
    };
    for (const auto& c : cases) {
        if (c.set) c.set(*c.song);
        std::string bytes;
        ASSERT_TRUE(smf_bytes(bytes, *c.song)) << c.name;
        EXPECT_EQ(hex(bytes), head + c.track + " FF 2F 00") << c.name;
    }
}

// A refused or failed export leaves the old file as it was.
TEST(Smf, FailedExportsLeaveFilesAlone)
{
    std::string old = testing::TempDir() + "stepmill-old.mid";
    ASSERT_TRUE(replace_file_contents(old, "old bytes"));
    // Too long: its end would lie past 2^32 ticks.
    for (auto song : {song_of({}, {}, 0), song_of({{0, {}}}, std::vector<uint32_t>(0xFFFFFFFFu / 1920 + 1))})
        EXPECT_FALSE(write_smf(old, *song));
    EXPECT_EQ(file_bytes(old), "old bytes");
    EXPECT_FALSE(write_smf(testing::TempDir() + "stepmill-no-such-folder/new.mid", *song_of({}, {})));
}

// midicsv, a reader nobody here wrote, agrees with the song.
TEST(Smf, IndependentReaderAgrees)
{
    std::string mid = testing::TempDir() + "groove.mid", csv = testing::TempDir() + "groove.csv";
    ASSERT_TRUE(write_smf(mid, *song_of({{8, {{0, 36}, {0, 42}, {4, 38}}}, {3, {{1, 49}}}}, {0, 1, 0}, 90)));
    ASSERT_EQ(std::system(("midicsv " + mid + " " + csv).c_str()), 0);
    std::string expected = "0, 0, Header, 0, 1, 480\n1, 0, Start_track\n1, 0, Tempo, 666666\n";
    auto hit = [&](unsigned on, unsigned off, std::vector<unsigned> notes) {
        for (unsigned velocity : {127u, 0u})
            for (unsigned n : notes)
                expected += "1, " + std::to_string(velocity ? on : off) + ", Note_on_c, 9, " + std::to_string(n) +
                            ", " + std::to_string(velocity) + "\n";
    };
    hit(0, 240, {36, 42}), hit(960, 1200, {38}), hit(2560, 3200, {49});   // 3 beats: 640 ticks each
    hit(3840, 4080, {36, 42}), hit(4800, 5040, {38});
    EXPECT_EQ(file_bytes(csv), expected + "1, 5760, End_track\n0, 0, End_of_file\n");
}
