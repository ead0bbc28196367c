#include "song.h"
#include "song_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <list>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace {

const char* const example_text =
    "bpm: 120\r\nsprites: 2\r\nbeats: 8\r\ncolor: 191, 191, 191\r\n"
    "beat: 0 36 42\r\nbeat: 2 42\r\nbeat: 4 38 42\r\nbeat: 6 42\r\nsprite end\r\n"
    "beats: 16\r\ncolor: 191, 191, 191\r\nbeat: 0 36\r\nbeat: 12 38 46\r\nsprite end\r\n"
    "sequence: 0 0 1 0\r\n";

// The example with every setting and velocity line it can have.
const char* const groove_text =
    "bpm: 120\r\nswing: 58\r\nchannel: 2\r\nmute: 42 46\r\nsolo: 36\r\nclock: 1\r\nsprites: 2\r\n"
    "beats: 8\r\ncolor: 191, 191, 191\r\n"
    "beat: 0 36 42\r\nvelocity: 0 42 48\r\nbeat: 2 42\r\nbeat: 4 38 42\r\nvelocity: 4 38 1 42 126\r\n"
    "beat: 6 42\r\nsprite end\r\n"
    "beats: 16\r\ncolor: 191, 191, 191\r\nbeat: 0 36\r\nbeat: 12 38 46\r\nsprite end\r\n"
    "sequence: 0 0 1 0\r\n";

std::string text_of(const Song& song)
{
    std::ostringstream out;
    song.write(out);
    return out.str();
}

// Reads `text` into `song`; returns the diagnostics.
std::string read_text(Song& song, const std::string& text)
{
    std::istringstream in(text);
    std::ostringstream err;
    song.read(in, err);
    return err.str();
}

std::string file_bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

// Beats dropped and added again come back silent, the others keep their
// notes. A velocity stays with its note: it goes when the note or its beat
// goes, and a note switched on again plays at full velocity.
TEST(Sprite, VelocitiesFollowTheirNotes)
{
    Song song;
    Sprite sprite(&song, 16);
    for (uint8_t note : {42, 36, 38}) sprite.set_note(3, note, true);
    sprite.set_note(12, 38, true);
    for (auto [beat, note] : {std::pair{3, 42}, {3, 36}, {3, 38}, {12, 38}}) sprite.set_velocity(beat, note, 20 + note);
    sprite.set_velocity(3, 38, full_velocity);
    sprite.set_note(3, 42, false);
    sprite.set_note(3, 42, true);
    sprite.set_beats(8);
    sprite.set_beats(16);
    std::vector<NoteSet> notes(16);
    notes[3].set(36).set(38).set(42);
    EXPECT_EQ(sprite.notes, notes);
    std::vector<BeatVelocities> expected(16);
    expected[3] = {{36, 56}};
    EXPECT_EQ(sprite.velocities, expected);
    EXPECT_EQ(std::tuple(sprite.velocity(3, 36), sprite.velocity(3, 38), sprite.velocity(3, 42)),
              std::tuple(56, full_velocity, full_velocity));
}

// Swing delays odd beats of even beat counts; the bar's end and straight
// counts stay put, in any unit.
TEST(Song, BeatStartsWithSwing)
{
    struct { uint64_t beats, beat, swing, bar, start; } cases[] = {
        {16, 15, 66, 1920, 1838},   // (192000 * 14 + 3840 * 66) / 1600 = 1838.4
        {8, 7, 75, 240'000'000'000, 225'000'000'000},   // 6/8 of the bar and 75 % of an eighths pair
        {2, 2, 75, 1000, 1000}, {7, 3, 75, 1920, 822}, {0, 0, 75, 1920, 0},
    };
    for (const auto& c : cases) {
        Song song;
        song.swing = static_cast<uint8_t>(c.swing);
        EXPECT_EQ(song.beat_start(c.beats, c.beat, c.bar), c.start) << c.beats << " " << c.beat;
    }
}

TEST(Song, RandomSongsRoundTrip)
{
    std::mt19937_64 random(7);
    for (int round = 0; round < 50; ++round) {
        Song song, back;
        song.bpm = random() % 0x100000000ull;
        song.swing = uint8_t(min_swing + random() % 26);
        song.channel = uint8_t(1 + random() % 16);
        song.clock = random() % 2;
        for (int k = random() % 3; k > 0; --k) song.mute.set(random() % 128), song.solo.set(random() % 128);
        for (size_t i = random() % 40; i > 0; --i) {
            Sprite& sprite = song.sprites.emplace_back(&song, random() % 40);
            sprite.color = {uint8_t(random()), uint8_t(random()), uint8_t(random())};
            for (uint64_t b = 0; b < sprite.beats; ++b)
                for (int k = random() % 5; k > 0; --k) {
                    uint8_t note = random() % 128;
                    sprite.set_note(b, note, true);
                    sprite.set_velocity(b, note, uint8_t(1 + random() % 127));
                }
        }
        for (int k = song.sprites.empty() ? 0 : random() % 30; k > 0; --k)
            song.sequence.push_back(random() % song.sprites.size());
        back.reset_sprites(3);   // reading makes the sprites anew: none of these may survive
        back.sprites[0].notes[0].set(5);
        EXPECT_EQ(read_text(back, text_of(song)), "");
        EXPECT_EQ(std::tie(back.bpm, back.sequence, back.swing, back.channel, back.clock, back.mute, back.solo),
                  std::tie(song.bpm, song.sequence, song.swing, song.channel, song.clock, song.mute, song.solo));
        ASSERT_EQ(back.sprites.size(), song.sprites.size());
        for (size_t i = 0; i < song.sprites.size(); ++i) {
            const Sprite &a = song.sprites[i], &b = back.sprites[i];
            EXPECT_EQ(std::tie(a.beats, a.color, a.notes, a.velocities),
                      std::tie(b.beats, b.color, b.notes, b.velocities)) << i;
            EXPECT_EQ(b.song, &back);
        }
    }
}

// The example through a stream and a file, CR LF and all. A failed save creates
// nothing and swaps no device or folder for a file; a failed read changes nothing.
TEST(SongFile, ExampleRoundTripAndFailures)
{
    char name[] = "/tmp/stepmill-doc-XXXXXX";
    std::string dir = mkdtemp(name), path = dir + "/song.trm";
    Song song, back;
    EXPECT_EQ(read_text(song, example_text), "");
    EXPECT_EQ(text_of(song), example_text);
    { std::ofstream(path) << std::string(500, 'x'); }   // no stale bytes may stay behind the end
    ASSERT_TRUE(song.write(path));
    EXPECT_EQ(file_bytes(path), example_text);
    std::ostringstream err;
    ASSERT_TRUE(back.read(path, err));
    for (std::string bad : {dir + "/missing/song.trm", dir, std::string("/dev/full")})
        EXPECT_FALSE(song.write(bad)) << bad;
    EXPECT_NE(access((dir + "/missing").c_str(), F_OK), 0);
    struct stat info;
    EXPECT_TRUE(stat("/dev/full", &info) == 0 && S_ISCHR(info.st_mode));
    for (std::string bad : {dir + "/none.trm", dir})
        EXPECT_FALSE(back.read(bad, err)) << bad;
    EXPECT_EQ(text_of(back), example_text);
}

// Every setting and velocity line reads back as written; with all of them at
// their defaults the song is written without them, as before they existed.
TEST(SongFile, GrooveLinesRoundTrip)
{
    Song song;
    EXPECT_EQ(read_text(song, groove_text), "");
    EXPECT_EQ(text_of(song), groove_text);
    const Sprite& sprite = song.sprites[0];
    EXPECT_EQ(std::tuple(sprite.velocity(0, 36), sprite.velocity(0, 42), sprite.velocity(4, 38), sprite.velocity(4, 42)),
              std::tuple(127, 48, 1, 126));
    EXPECT_EQ(std::tuple(song.swing, song.channel, song.clock, song.mute, song.solo),
              std::tuple(58, 2, true, NoteSet().set(42).set(46), NoteSet().set(36)));

    song.swing = min_swing, song.channel = default_channel, song.clock = false;
    song.mute.reset(), song.solo.reset();
    for (auto& beat : song.sprites[0].velocities) beat.clear();
    EXPECT_EQ(text_of(song), example_text);
    // Reading a song without them resets what the last one had.
    EXPECT_EQ(read_text(song, groove_text), "");
    EXPECT_EQ(read_text(song, example_text), "");
    EXPECT_EQ(text_of(song), example_text);
}

// A faulty setting or velocity is reported and skipped, and reads as the
// clean file does.
TEST(SongRead, GrooveDiagnostics)
{
    const std::string sprite = "sprites: 1\nbeats: 4\nbeat: 1 36 42\n";
    auto top = [&](const char* line) { return "bpm: 90\n" + std::string(line) + "\n" + sprite + "sprite end\n"; };
    auto block = [&](const char* line) { return "bpm: 90\n" + sprite + line + "\nsprite end\n"; };
    struct { std::string faulty, clean, errors; } cases[] = {
        {top("swing: 49"), top(""), "2: illegal swing: 49\n"},
        {top("swing: 76"), top(""), "2: illegal swing: 76\n"},
        {top("channel: 0"), top(""), "2: illegal channel: 0\n"},
        {top("channel: 17"), top(""), "2: illegal channel: 17\n"},
        {top("mute: 42 128 46"), top("mute: 42 46"), "2: illegal note number: 128\n"},
        {top("solo: 36 -1"), top("solo: 36"), "2: illegal note number: 4294967295\n"},
        {top("clock: 2"), top(""), "2: illegal clock: 2\n"},
        {block("velocity: 1 36 0 42 9"), block("velocity: 1 42 9"), "5: illegal velocity: 0\n"},
        {block("velocity: 1 36 128"), block(""), "5: illegal velocity: 128\n"},
        {block("velocity: 1 38 90 42 90"), block("velocity: 1 42 90"), "5: illegal velocity note: 38\n"},
        {block("velocity: 0 36 90"), block(""), "5: illegal velocity note: 36\n"},
        {block("velocity: 4 36 90"), block(""), "5: illegal beat number: 4\n"},
        {block("velocity: 1 200 90 42"), block(""), "5: illegal note number: 200\n5: missing velocity, skip note: 42\n"},
        {"sprites: 1\nbeats: 4\nvelocity: 1 36 90\nbeat: 1 36\nsprite end\n",
         "sprites: 1\nbeats: 4\nbeat: 1 36\nsprite end\n", "3: illegal velocity note: 36\n"},
    };
    for (const auto& c : cases) {
        Song song, clean;
        EXPECT_EQ(read_text(song, c.faulty), c.errors) << c.faulty;
        EXPECT_EQ(read_text(clean, c.clean), "") << c.clean;
        EXPECT_EQ(text_of(song), text_of(clean)) << c.faulty;
    }
}

TEST(SongRead, Diagnostics)
{
    struct { const char* name; std::string text; std::string errors; } cases[] = {
        {"command", "bpm: 1\r\nhello\r\n", "2: illegal command: hello\r\n"},
        {"block keyword at top", "# c\n\nbeat: 1\n", "3: illegal command: beat: 1\n"},
        {"top keyword in block", "sprites: 1\nbpm: 3\nsprite end\n", "2: illegal command: bpm: 3\n"},
        {"beat number", "sprites: 1\nbeats: 8\n#\n\r\nbeat: 8 36\nsprite end\n", "5: illegal beat number: 8\n"},
        {"note number", "sprites: 1\nbeats: 8\nbeat: 3 36 200 38\nsprite end\n", "3: illegal note number: 200\n"},
        {"sprite number", "sprites: 1\nsprite end\nsequence: 0 -1\n", "3: illegal sprite number, skip: 4294967295\n"},
        {"no sprites", "sprites: 0\nsequence: 0\n", "2: illegal sprite number, skip: 0\n"},
        {"sprite count", "sprites: 4097\nsequence: 0\n",
         "1: illegal sprite count: 4097\n2: illegal sprite number, skip: 0\n"},
        {"beat count", "sprites: 1\nbeats: 2\nbeats: 1025\nbeat: 1 36\nsprite end\n", "3: illegal beat count: 1025\n"},
        {"count shrinks under the sequence", "sprites: 2\nsprite end\nsprite end\nsequence: 1 0 1\nsprites: 1\n",
         "5: illegal sprite number, skip: 1\n5: illegal sprite number, skip: 1\n"},
        {"missing blocks", "sprites: 2\nsprite end\nsequence: 0\n", "3: illegal command: sequence: 0\n"},
    };
    for (const auto& c : cases) {
        Song song;
        EXPECT_EQ(read_text(song, c.text), c.errors) << c.name;
    }
}

// Colours wrap at 256, numbers may be hex or octal, a trailing separator adds
// no note 0, and sprites whose blocks are missing stay empty, with LF or CR LF.
TEST(SongRead, ContentsWithEitherLineEnd)
{
    std::string lf = "bpm: 0x10\nsprites: 3\nbeats: 8\ncolor: 300, 0x10, 010\nbeat: 3 0x24 044 \n"
                     "sprite end\nbeats: 4\ncolor: 1, 2\nsprite end\n";
    std::string crlf;
    for (char c : lf) crlf += c == '\n' ? "\r\n" : std::string(1, c);
    for (const std::string& text : {lf, crlf}) {
        Song song;
        EXPECT_EQ(read_text(song, text), "");
        EXPECT_EQ(text_of(song), "bpm: 16\r\nsprites: 3\r\nbeats: 8\r\ncolor: 44, 16, 8\r\nbeat: 3 36\r\nsprite end\r\n"
                                 "beats: 4\r\ncolor: 1, 2, 0\r\nsprite end\r\nbeats: 0\r\ncolor: 191, 191, 191\r\n"
                                 "sprite end\r\n");
    }
}

TEST(Scan, ThirtyTwoBitStrtoul)
{
    struct { const char* text; uint32_t value; size_t end; bool digits; } cases[] = {
        // saturation, also past 64 bits
        {"4294967295", 4294967295u, 10, true}, {"4294967296", 4294967295u, 10, true},
        {"18446744073709551616", 4294967295u, 20, true},
        // a minus negates modulo 2^32, after saturating
        {"-1", 4294967295u, 2, true}, {"-4294967295", 1u, 11, true}, {"-4294967296", 4294967295u, 11, true},
        // bases, and where a number ends
        {"0XfF", 255, 4, true}, {"044", 36, 3, true}, {"09", 0, 1, true}, {"0x", 0, 1, true},
        {" \t+12x", 12, 5, true}, {" -", 0, 0, false}, {"", 0, 0, false},
    };
    for (const auto& c : cases) {
        scan_result_t r = scan_u32(c.text, c.text + std::strlen(c.text));
        EXPECT_EQ(std::tie(r.value, r.digits), std::tie(c.value, c.digits)) << c.text;
        EXPECT_EQ(static_cast<size_t>(r.end - c.text), c.end) << c.text;
    }
}

// A file larger than the limit, or a source that never ends, is refused after
// reading one byte past the limit; the song keeps what it had.
TEST(SongRead, RefusesSourcesOverTheLimit)
{
    std::string base = testing::TempDir() + "stepmill-big-" + std::to_string(getpid());
    std::string sparse = base + ".trm", fifo = base + ".fifo";
    std::ofstream(sparse) << "bpm: 7\n";
    ASSERT_TRUE(truncate(sparse.c_str(), max_file_bytes + 1) == 0 && mkfifo(fifo.c_str(), 0600) == 0);
    signal(SIGPIPE, SIG_IGN);   // the feeder learns of the closed reader by EPIPE
    std::thread feeder([&] {
        int fd = open(fifo.c_str(), O_WRONLY);
        std::string lines(1 << 16, '\n');
        while (write(fd, lines.data(), lines.size()) > 0) {}
        close(fd);
    });
    for (std::string path : {sparse, std::string("/dev/zero"), fifo}) {
        Song song;
        read_text(song, example_text);
        std::ostringstream err;
        EXPECT_FALSE(song.read(path, err)) << path;
        EXPECT_EQ(err.str(), path + ": " + file_too_big_message + "\n");
        EXPECT_EQ(text_of(song), example_text) << path;
    }
    feeder.join();
    unlink(sparse.c_str());
    unlink(fifo.c_str());

    // The limit itself is still read.
    for (size_t size : {size_t(max_file_bytes), size_t(max_file_bytes + 1)}) {
        std::string text = "bpm: 7\n";
        text.resize(size, '\n');
        Song song;
        bool refused = size > max_file_bytes;
        EXPECT_EQ(read_text(song, text), refused ? std::string(file_too_big_message) + "\n" : "") << size;
        EXPECT_EQ(song.bpm, refused ? 120u : 7u) << size;
    }
}

// A long sequence, then many sprite counts that drop entries of several
// sprites: the survivors keep their order and the dropped ones are reported in
// sequence order on the line of the count that dropped them.
TEST(SongRead, CountsDropEntriesInOrderOnABigFile)
{
    std::string text = "sprites: 10\n";
    for (int i = 0; i < 10; ++i) text += "sprite end\n";
    text += "sequence:";                                                      // line 12
    const uint32_t entries = 200000;
    for (uint32_t i = 0; i < entries; ++i) text += " " + std::to_string(i * 7 % 10);
    text += "\nsprites: 5\n";                                                 // line 13
    for (int i = 0; i < 5; ++i) text += "sprite end\n";
    text += "sequence: 4 9\n";                                                // line 19
    for (int i = 0; i < 20000; ++i) text += "sprites: 1\nsprite end\n";       // from line 20

    auto skipped = [](int line, uint32_t entry) {
        return std::to_string(line) + ": illegal sprite number, skip: " + std::to_string(entry) + "\n";
    };
    std::string at_five, at_one;
    std::list<uint32_t> survivors;
    for (uint32_t i = 0; i < entries; ++i) {
        uint32_t entry = i * 7 % 10;
        if (entry >= 5) at_five += skipped(13, entry);
        else if (entry >= 1) at_one += skipped(20, entry);
        else survivors.push_back(entry);
    }
    Song song;
    // Compared whole, since a diff of texts this long would not fit in memory.
    std::string errors = read_text(song, text), expected = at_five + skipped(19, 9) + at_one + skipped(20, 4);
    size_t differ = std::mismatch(errors.begin(), errors.end(), expected.begin(), expected.end()).first - errors.begin();
    EXPECT_TRUE(errors == expected) << "first difference: " << errors.substr(differ, 40);
    EXPECT_TRUE(song.sequence == survivors);
    EXPECT_EQ(song.sprites.size(), 1u);
}
