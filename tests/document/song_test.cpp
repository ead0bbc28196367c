#include "song.h"
#include "song_scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const example_text =
    "bpm: 120\r\nsprites: 2\r\nbeats: 8\r\ncolor: 191, 191, 191\r\n"
    "beat: 0 36 42\r\nbeat: 2 42\r\nbeat: 4 38 42\r\nbeat: 6 42\r\nsprite end\r\n"
    "beats: 16\r\ncolor: 191, 191, 191\r\nbeat: 0 36\r\nbeat: 12 38 46\r\nsprite end\r\n"
    "sequence: 0 0 1 0\r\n";

std::string text_of(const Song& song)
{
    std::ostringstream out;
    song.write(out);
    return out.str();
}

void expect_same(const Song& a, const Song& b)
{
    EXPECT_EQ(a.bpm, b.bpm);
    ASSERT_EQ(a.sprites.size(), b.sprites.size());
    for (size_t i = 0; i < a.sprites.size(); ++i) {
        EXPECT_EQ(a.sprites[i].beats, b.sprites[i].beats) << i;
        EXPECT_EQ(a.sprites[i].color, b.sprites[i].color) << i;
        EXPECT_EQ(a.sprites[i].notes, b.sprites[i].notes) << i;
        EXPECT_EQ(b.sprites[i].song, &b);
    }
    EXPECT_EQ(a.sequence, b.sequence);
}

std::string temp_dir()
{
    char name[] = "/tmp/stepmill-doc-XXXXXX";
    return mkdtemp(name);
}

std::string file_bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(Sprite, SetBeatsKeepsLowerBeatsAndSilencesNewOnes)
{
    Song song;
    Sprite sprite(&song, 16);
    sprite.notes[3].set(36);
    sprite.notes[12].set(38);
    sprite.set_beats(8);
    sprite.set_beats(16);
    EXPECT_TRUE(sprite.notes[3].test(36));
    EXPECT_TRUE(sprite.notes[12].none());
    sprite.set_beats(0);
    EXPECT_TRUE(sprite.notes.empty());
    Sprite copy = Sprite(&song, 4);
    Sprite other = copy;
    other.notes[0].set(1);
    EXPECT_TRUE(copy.notes[0].none());
}

TEST(Song, NewSongOf36GreySprites)
{
    Song song;
    song.reset_sprites(36);
    ASSERT_EQ(song.sprites.size(), 36u);
    std::string expected = "bpm: 120\r\nsprites: 36\r\n";
    for (int i = 0; i < 36; ++i)
        expected += "beats: 8\r\ncolor: 191, 191, 191\r\nsprite end\r\n";
    EXPECT_EQ(text_of(song), expected);
    EXPECT_EQ(song.sprites[35].song, &song);
}

TEST(Song, ExampleRoundTripsByteForByte)
{
    Song song;
    std::istringstream in(example_text);
    std::ostringstream err;
    song.read(in, err);
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(song.sprites[1].beats, 16u);
    EXPECT_TRUE(song.sprites[1].notes[12].test(46));
    EXPECT_EQ(text_of(song), example_text);

    std::string dir = temp_dir();
    ASSERT_TRUE(song.write(dir + "/song.trm"));
    EXPECT_EQ(file_bytes(dir + "/song.trm"), example_text);
    Song back;
    ASSERT_TRUE(back.read(dir + "/song.trm", err));
    expect_same(song, back);
}

TEST(Song, RandomSongsRoundTrip)
{
    std::mt19937_64 random(7);
    for (int round = 0; round < 50; ++round) {
        Song song;
        song.bpm = random() % 0x100000000ull;
        song.sprites.clear();
        size_t count = random() % 40;
        for (size_t i = 0; i < count; ++i) {
            Sprite sprite(&song, random() % 40);
            for (auto& c : sprite.color) c = static_cast<uint8_t>(random());
            for (auto& set : sprite.notes)
                for (int k = random() % 5; k > 0; --k) set.set(random() % 128);
            song.sprites.push_back(sprite);
        }
        for (int k = count ? random() % 30 : 0; k > 0; --k)
            song.sequence.push_back(static_cast<uint32_t>(random() % count));
        std::istringstream in(text_of(song));
        std::ostringstream err;
        Song back;
        back.reset_sprites(3);   // reading makes the sprites anew
        back.sprites[0].notes[0].set(5);
        back.read(in, err);
        EXPECT_EQ(err.str(), "");
        expect_same(song, back);
    }
}

TEST(SongFile, WriteFailuresLeaveFilesAlone)
{
    std::string dir = temp_dir();
    Song song;
    song.reset_sprites(2);
    std::string path = dir + "/keep.trm";
    { std::ofstream(path) << "old"; }
    EXPECT_FALSE(song.write(dir + "/missing/song.trm"));
    EXPECT_NE(access((dir + "/missing").c_str(), F_OK), 0);
    EXPECT_FALSE(song.write("/proc/song.trm"));
    EXPECT_FALSE(song.write(dir));                 // a folder
    EXPECT_FALSE(song.write("/dev/full"));
    struct stat info;
    ASSERT_EQ(stat("/dev/full", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
    EXPECT_EQ(file_bytes(path), "old");
    ASSERT_TRUE(song.write(path));
    EXPECT_EQ(file_bytes(path), text_of(song));

    std::ostringstream err;
    song.bpm = 77;
    EXPECT_FALSE(song.read(dir + "/none.trm", err));
    EXPECT_FALSE(song.read(dir, err));
    EXPECT_EQ(song.bpm, 77u);
    EXPECT_EQ(song.sprites.size(), 2u);
}

TEST(Scan, ThirtyTwoBitStrtoul)
{
    struct { const char* text; uint32_t value; size_t end; bool digits; } cases[] = {
        {"4294967295", 4294967295u, 10, true},
        {"4294967296", 4294967295u, 10, true},
        {"18446744073709551615", 4294967295u, 20, true},
        {"18446744073709551616", 4294967295u, 20, true},
        {"-1", 4294967295u, 2, true},
        {"-4294967295", 1u, 11, true},
        {"-4294967296", 4294967295u, 11, true},
        {"0x24", 36, 4, true},
        {"0XfF", 255, 4, true},
        {"044", 36, 3, true},
        {"09", 0, 1, true},
        {"0x", 0, 1, true},
        {" \t+12x", 12, 5, true},
        {" -", 0, 0, false},
        {"\r", 0, 0, false},
        {"", 0, 0, false},
    };
    for (const auto& c : cases) {
        const char* end = c.text + std::strlen(c.text);
        scan_result_t r = scan_u32(c.text, end);
        EXPECT_EQ(r.value, c.value) << c.text;
        EXPECT_EQ(static_cast<size_t>(r.end - c.text), c.end) << c.text;
        EXPECT_EQ(r.digits, c.digits) << c.text;
    }
}
