#include "song.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

struct read_result_t {
    std::string errors;
    std::unique_ptr<Song> song;
};

read_result_t read_text(const std::string& text)
{
    read_result_t r{"", std::make_unique<Song>()};
    std::istringstream in(text);
    std::ostringstream err;
    r.song->read(in, err);
    r.errors = err.str();
    return r;
}

std::vector<uint32_t> seq(const Song& s) { return {s.sequence.begin(), s.sequence.end()}; }

}  // namespace

TEST(SongRead, Diagnostics)
{
    struct { const char* name; std::string text; std::string errors; } cases[] = {
        {"command", "bpm: 1\r\nhello\r\n", "2: illegal command: hello\r\n"},
        {"block keyword at top", "# c\n\nbeat: 1\n", "3: illegal command: beat: 1\n"},
        {"top keyword in block", "sprites: 1\nbpm: 3\nsprite end\n", "2: illegal command: bpm: 3\n"},
        {"beat number", "sprites: 1\nbeats: 8\n#\n\r\nbeat: 9 36\nsprite end\n",
         "5: illegal beat number: 9\n"},
        {"beat before beats", "sprites: 1\nbeat: 0 36\nsprite end\n", "2: illegal beat number: 0\n"},
        {"note number", "sprites: 1\nbeats: 8\nbeat: 3 36 200 38\nsprite end\n",
         "3: illegal note number: 200\n"},
        {"sprite number", "sprites: 3\nsprite end\nsprite end\nsprite end\nsequence: 0 -1 2\n",
         "5: illegal sprite number, skip: 4294967295\n"},
        {"no sprites", "sprites: 0\nsequence: 0 1\n",
         "2: illegal sprite number, skip: 0\n2: illegal sprite number, skip: 1\n"},
        {"sprite count", "sprites: 4097\nsequence: 0\n",
         "1: illegal sprite count: 4097\n2: illegal sprite number, skip: 0\n"},
        {"beat count", "sprites: 1\nbeats: 2\nbeats: 1025\nbeat: 1 36\nsprite end\n",
         "3: illegal beat count: 1025\n"},
        {"count shrinks under the sequence", "sprites: 2\nsprite end\nsprite end\nsequence: 1 0 1\nsprites: 1\nsprite end\n",
         "5: illegal sprite number, skip: 1\n5: illegal sprite number, skip: 1\n"},
        {"missing blocks", "sprites: 2\nsprite end\nsequence: 0\n",
         "3: illegal command: sequence: 0\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(read_text(c.text).errors, c.errors) << c.name;
}

TEST(SongRead, Contents)
{
    auto r = read_text("sprites: 1\nbeats: 8\ncolor: 300, 0x10, 010\nbeat: 3 0x24 044\nsprite end\n");
    EXPECT_EQ(r.song->bpm, 120u);
    EXPECT_EQ(r.song->sprites[0].color, (std::array<uint8_t, 3>{44, 16, 8}));
    EXPECT_TRUE(r.song->sprites[0].notes[3].test(36));
    EXPECT_EQ(r.song->sprites[0].notes[3].count(), 1u);

    // Trailing separators and CRs end the numbers: no note 0, no sprite 0.
    r = read_text("bpm:\nsprites: 2\nbeats: 4\ncolor: 1, 2\nbeat: 1 36 \r\nsprite end\n"
                  "beats: 2\nbeats: 6\nbeat: 5 40\r\nsprite end\nsequence:\nsequence: 1 \nsequence: 0");
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(r.song->bpm, 0u);
    const Sprite& a = r.song->sprites[0];
    EXPECT_EQ(a.color, (std::array<uint8_t, 3>{1, 2, 0}));
    EXPECT_EQ(a.notes[1].count(), 1u);
    EXPECT_FALSE(a.notes[1].test(0));
    const Sprite& b = r.song->sprites[1];
    EXPECT_EQ(b.beats, 6u);
    EXPECT_EQ(b.notes.size(), 6u);
    EXPECT_TRUE(b.notes[5].test(40));
    EXPECT_EQ(seq(*r.song), (std::vector<uint32_t>{1, 0}));

    // A short file leaves the later sprites at 0 beats.
    r = read_text("sprites: 3\nbeats: 4\nsprite end\n");
    EXPECT_EQ(r.song->sprites[1].beats, 0u);
    EXPECT_EQ(r.song->sprites[2].notes.size(), 0u);
}

TEST(SongRead, LineEndsAndSingleBlockReads)
{
    std::string lf = "bpm: 90\nsprites: 1\nbeats: 2\nbeat: 1 36 38\nsprite end\nsequence: 0 0";
    std::string crlf;
    for (char c : lf) { if (c == '\n') crlf += '\r'; crlf += c; }
    auto a = read_text(lf), b = read_text(crlf);
    EXPECT_EQ(a.song->sprites[0].notes, b.song->sprites[0].notes);
    EXPECT_EQ(seq(*a.song), seq(*b.song));
    EXPECT_EQ(seq(*a.song).size(), 2u);
    EXPECT_EQ(a.song->bpm, 90u);

    Song song;
    Sprite sprite(&song, 0);
    std::istringstream in("beats: 4\n# x\nbeat: 5\nsprite end\nrest\n");
    std::ostringstream err;
    uint64_t lines = 10;
    EXPECT_TRUE(sprite.read(in, lines, err));
    EXPECT_EQ(lines, 14u);
    EXPECT_EQ(err.str(), "13: illegal beat number: 5\n");
    EXPECT_EQ(sprite.beats, 4u);
}
