#include "file_replace.h"
#include "smf_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string run(const std::string& command)
{
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    char line[256];
    while (pipe && std::fgets(line, sizeof line, pipe.get())) out += line;
    return out;
}

std::string source(const char* name)
{
    return std::string(std::getenv("STEPMILL_SOURCE_DIR")) + "/tests/smf/" + name;
}

std::string hex(const std::string& bytes)
{
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "%s%02X", out.empty() ? "" : " ", c);
        out += buf;
    }
    return out;
}

struct song_t {
    std::unique_ptr<Song> song = std::make_unique<Song>();
    song_t&& sprite(uint64_t beats, std::vector<std::pair<unsigned, unsigned>> beat_notes)
    {
        song->sprites.emplace_back(song.get(), beats);
        for (auto [beat, note] : beat_notes) song->sprites.back().notes[beat].set(note);
        return std::move(*this);
    }
    song_t&& sequence(std::vector<uint32_t> entries)
    {
        song->sequence.assign(entries.begin(), entries.end());
        return std::move(*this);
    }
};

std::string track(const Song& song)
{
    std::string bytes;
    EXPECT_TRUE(smf_bytes(bytes, song, 9, 127));
    return hex(bytes.substr(std::min<size_t>(22, bytes.size())));
}

const std::string tempo120 = "00 FF 51 03 07 A1 20";

}  // namespace

TEST(Smf, VarLen)
{
    struct { uint32_t value; const char* bytes; } cases[] = {
        {0, "00"}, {127, "7F"}, {128, "81 00"}, {480, "83 60"}, {1920, "8F 00"},
        {16384, "81 80 00"}, {0x0FFFFFFF, "FF FF FF 7F"},
    };
    for (const auto& c : cases) {
        std::ostringstream out;
        write_var_len(out, c.value);
        EXPECT_EQ(hex(out.str()), c.bytes) << c.value;
    }
}

TEST(Smf, ExactBytes)
{
    Song empty;
    std::string bytes;
    ASSERT_TRUE(smf_bytes(bytes, empty, 9, 127));
    EXPECT_EQ(hex(bytes), "4D 54 68 64 00 00 00 06 00 00 00 01 01 E0 4D 54 72 6B 00 00 00 0B "
                          "00 FF 51 03 07 A1 20 00 FF 2F 00");

    auto one = song_t().sprite(4, {{0, 36}}).sequence({0});
    ASSERT_TRUE(smf_bytes(bytes, *one.song, 9, 127));
    EXPECT_EQ(hex(bytes.substr(18, 4)), "00 00 00 15");

    struct { const char* name; song_t song; std::string track; } cases[] = {
        {"one beat", song_t().sprite(4, {{0, 36}}).sequence({0}),
         tempo120 + " 00 99 24 7F 83 60 99 24 00 8B 20 FF 2F 00"},
        {"same sprite twice", song_t().sprite(4, {{0, 36}}).sequence({0, 0}),
         tempo120 + " 00 99 24 7F 83 60 99 24 00 8B 20 99 24 7F 83 60 99 24 00 8B 20 FF 2F 00"},
        {"silent entries", song_t().sprite(8, {}).sequence({0, 0, 0}), tempo120 + " AD 00 FF 2F 00"},
        {"notes of one beat ascending", song_t().sprite(1, {{0, 42}, {0, 36}}).sequence({0}),
         tempo120 + " 00 99 24 7F 00 99 2A 7F 8F 00 99 24 00 00 99 2A 00 00 FF 2F 00"},
        {"seven beats round down", song_t().sprite(7, {{1, 36}, {4, 38}}).sequence({0}),
         // on at 274, off at 548; on at 1097, off at 1371
         tempo120 + " 82 12 99 24 7F 82 12 99 24 00 84 25 99 26 7F 82 12 99 26 00 84 25 FF 2F 00"},
        {"zero beats", song_t().sprite(0, {}).sequence({0}), tempo120 + " 8F 00 FF 2F 00"},
    };
    for (const auto& c : cases) EXPECT_EQ(track(*c.song.song), c.track) << c.name;
}

TEST(Smf, TempoAndRefusals)
{
    struct { uint64_t bpm; bool ok; const char* tempo; } cases[] = {
        {120, true, "07 A1 20"}, {1000, true, "00 EA 60"}, {4, true, "E4 E1 C0"},
        {3, true, "FF FF FF"}, {1, true, "FF FF FF"}, {0, false, ""},
    };
    for (const auto& c : cases) {
        Song song;
        song.bpm = c.bpm;
        std::string bytes;
        ASSERT_EQ(smf_bytes(bytes, song, 9, 127), c.ok) << c.bpm;
        if (c.ok) {
            EXPECT_EQ(hex(bytes.substr(26, 3)), c.tempo) << c.bpm;
        }
    }
}

std::string file_text(const std::string& path)
{
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
        std::fclose(f);
    }
    return text;
}

// A failed export never creates a file nor touches the one that was there.
TEST(Smf, FailedExportsLeaveFilesAlone)
{
    std::string dir = testing::TempDir() + "smf_failures/";
    std::remove((dir + "old.mid").c_str());
    ::mkdir(dir.c_str(), 0755);
    std::string old = dir + "old.mid";
    ASSERT_TRUE(replace_file_contents(old, "old bytes"));

    Song zero_tempo;
    zero_tempo.bpm = 0;
    Song too_long;   // the end of the track would lie past 2^32 ticks
    too_long.sprites.emplace_back(&too_long, 0);
    too_long.sequence.assign(0xFFFFFFFFu / 1920 + 1, 0);
    Song fine;

    struct { const char* name; const Song& song; std::string path; } cases[] = {
        {"tempo 0", zero_tempo, old},
        {"too long", too_long, old},
        {"missing folder", fine, dir + "missing/new.mid"},
        {"full disk", fine, "/dev/full"},
        {"a folder", fine, dir},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(write_smf(c.path, c.song, 9, 127)) << c.name;
        EXPECT_EQ(file_text(old), "old bytes") << c.name;
    }
    EXPECT_NE(::access((dir + "missing").c_str(), F_OK), 0);
    struct stat info;
    ASSERT_EQ(::stat("/dev/full", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));

    // A good export replaces the old file whole: no stale bytes behind the end.
    ASSERT_TRUE(replace_file_contents(old, std::string(100, 'x')));
    ASSERT_TRUE(write_smf(old, fine, 9, 127));
    EXPECT_EQ(file_text(old).size(), 33u);
}

// midicsv, a reader nobody here wrote, agrees with the song.
TEST(Smf, IndependentReaderAgrees)
{
    auto groove = song_t().sprite(8, {{0, 36}, {0, 42}, {2, 42}, {4, 38}, {4, 42}, {6, 42}})
                      .sprite(3, {{1, 49}})
                      .sequence({0, 1, 0});
    groove.song->bpm = 90;
    std::string bytes;
    ASSERT_TRUE(smf_bytes(bytes, *groove.song, 9, 127));
    std::string path = testing::TempDir() + "groove.mid";
    ASSERT_TRUE(replace_file_contents(path, bytes));

    std::string csv = run("midicsv " + path);
    std::string from_mido = run("/usr/bin/python3 " + source("mido_events.py") + " " + path);

    std::string mido_expected = "type 0 tracks 1 tpq 480\n0 tempo 666666\n";
    std::string expected =
        "0, 0, Header, 0, 1, 480\n"
        "1, 0, Start_track\n"
        "1, 0, Tempo, 666666\n";
    auto note = [&](unsigned tick, unsigned n, unsigned v) {
        expected += "1, " + std::to_string(tick) + ", Note_on_c, 9, " + std::to_string(n) + ", " +
                    std::to_string(v) + "\n";
        mido_expected += std::to_string(tick) + " note 10 " + std::to_string(n) + " " +
                         std::to_string(v) + "\n";
    };
    for (unsigned base : {0u, 3840u}) {
        note(base, 36, 127), note(base, 42, 127);
        note(base + 240, 36, 0), note(base + 240, 42, 0);
        note(base + 480, 42, 127), note(base + 720, 42, 0);
        note(base + 960, 38, 127), note(base + 960, 42, 127);
        note(base + 1200, 38, 0), note(base + 1200, 42, 0);
        note(base + 1440, 42, 127), note(base + 1680, 42, 0);
        if (base == 0) note(1920 + 640, 49, 127), note(1920 + 1280, 49, 0);
    }
    expected += "1, 5760, End_track\n0, 0, End_of_file\n";
    mido_expected += "5760 end\n";
    EXPECT_EQ(csv, expected);
    EXPECT_EQ(from_mido, mido_expected);
    std::remove(path.c_str());
}

// A General MIDI synthesizer plays the export: sound on the beats, silence in
// the silent bar.
TEST(Smf, SynthesizerRendersTheGroove)
{
    // 120 bpm, 2 s a bar: kicks at 0 s and 1 s, a silent bar, a kick at 4 s.
    auto groove = song_t().sprite(4, {{0, 36}, {2, 36}}).sprite(4, {}).sprite(4, {{0, 36}})
                      .sequence({0, 1, 2});
    std::string bytes;
    ASSERT_TRUE(smf_bytes(bytes, *groove.song, 9, 127));
    std::string mid = testing::TempDir() + "render.mid", wav = testing::TempDir() + "render.wav";
    ASSERT_TRUE(replace_file_contents(mid, bytes));
    std::remove(wav.c_str());
    std::string log = run("fluidsynth -ni -q -g 1 -r 44100 -F " + wav +
                          " /usr/share/sounds/sf2/FluidR3_GM.sf2 " + mid + " 2>&1");
    EXPECT_EQ(log.find("error"), std::string::npos) << log;
    std::istringstream levels(run("/usr/bin/python3 " + source("loudness.py") + " " + wav +
                                  " 0:0.2 1:1.2 2.8:3.9 4:4.2"));
    double kick0 = 0, kick1 = 0, silent = 1, kick4 = 0;
    levels >> kick0 >> kick1 >> silent >> kick4;
    EXPECT_GT(kick0, 0.01);
    EXPECT_GT(kick1, 0.01);
    EXPECT_GT(kick4, 0.01);
    EXPECT_LT(silent, 0.001);
    std::remove(mid.c_str());
    std::remove(wav.c_str());
}
