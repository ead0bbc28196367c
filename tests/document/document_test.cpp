#include "document.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <list>
#include <sstream>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <utility>

namespace {

const char* const example_text =
    "bpm: 120\r\nsprites: 2\r\nbeats: 8\r\ncolor: 191, 191, 191\r\n"
    "beat: 0 36 42\r\nbeat: 2 42\r\nbeat: 4 38 42\r\nbeat: 6 42\r\nsprite end\r\n"
    "beats: 16\r\ncolor: 191, 191, 191\r\nbeat: 0 36\r\nbeat: 12 38 46\r\nsprite end\r\n"
    "sequence: 0 0 1 0\r\n";

// Every line a song file can have, at the ends of its ranges.
const char* const full_text =
    "bpm: 4294967295\r\nswing: 75\r\nchannel: 16\r\nmute: 0 42 127\r\nsolo: 36\r\nclock: 1\r\nsprites: 3\r\n"
    "beats: 1024\r\ncolor: 0, 128, 255\r\nbeat: 0 0 36 127\r\nvelocity: 0 0 1 127 126\r\nbeat: 1023 42\r\n"
    "sprite end\r\nbeats: 0\r\ncolor: 191, 191, 191\r\nsprite end\r\nbeats: 8\r\ncolor: 1, 2, 3\r\nsprite end\r\n"
    "sequence: 2 0 1 0\r\n";

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

using Kind = DocumentChange::Kind;

// A file name of this test process's own: cases may run at once.
std::string scratch(const std::string& name)
{
    return testing::TempDir() + "stepmill-document-" + std::to_string(getpid()) + "-" + name;
}

// The sequence 0 1 2, notes on beats 2 and 7 of sprite 1, the second at
// velocity 90, note 46 muted, swing 60 and a tempo step to redo; changes are
// recorded from then on.
struct Recorded {
    Recorded()
    {
        for (uint32_t sprite : {0u, 1u, 2u}) doc.insert_entry(sprite, sprite);
        doc.set_note(1, 2, 38, true);
        doc.set_mute(46, true);
        doc.set_swing(60);
        doc.set_note(1, 7, 42, true);
        doc.set_velocity(1, 7, 42, 90);
        doc.set_tempo(200);
        doc.undo();
        doc.signal_changed().connect([this](const DocumentChange& change) { changes.push_back(change); });
    }
    std::vector<DocumentChange> take() { return std::exchange(changes, {}); }
    Document doc;
    std::vector<DocumentChange> changes;
};


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

// Every line reads back as written, into the fields it names, through a
// stream and a file (replacing a longer one); a song without settings and
// velocities is written without them, whatever the song read before held. A
// failed save creates nothing and swaps no device or folder for a file; a
// failed read changes nothing.
TEST(SongFile, RoundTripAndFailures)
{
    char name[] = "/tmp/stepmill-doc-XXXXXX";
    std::string dir = mkdtemp(name), path = dir + "/song.trm";
    Song song, back;
    EXPECT_EQ(read_text(song, full_text), "");
    EXPECT_EQ(text_of(song), full_text);
    EXPECT_EQ(std::tuple(song.bpm, song.swing, song.channel, song.clock, song.mute, song.solo, song.sprites[0].color),
              std::tuple(4294967295u, 75, 16, true, NoteSet().set(0).set(42).set(127), NoteSet().set(36),
                         std::array<uint8_t, 3>{0, 128, 255}));
    EXPECT_EQ(std::tuple(song.sprites[0].velocity(0, 0), song.sprites[0].velocity(0, 36), song.sprites[0].velocity(0, 127)),
              std::tuple(1, 127, 126));
    { std::ofstream(path) << std::string(50000, 'x'); }   // no stale bytes may stay behind the end
    ASSERT_TRUE(song.write(path));
    EXPECT_EQ(file_bytes(path), full_text);
    back.reset_sprites(3);   // reading makes the sprites anew: none of these may survive
    back.sprites[0].notes[0].set(5);
    std::ostringstream err;
    ASSERT_TRUE(back.read(path, err));
    EXPECT_EQ(text_of(back), full_text);
    EXPECT_EQ(back.sprites[2].song, &back);
    EXPECT_EQ(read_text(back, example_text), "");
    EXPECT_EQ(text_of(back), example_text);

    for (std::string bad : {dir + "/missing/song.trm", dir, std::string("/dev/full")})
        EXPECT_FALSE(song.write(bad)) << bad;
    EXPECT_NE(access((dir + "/missing").c_str(), F_OK), 0);
    struct stat info;
    EXPECT_TRUE(stat("/dev/full", &info) == 0 && S_ISCHR(info.st_mode));
    for (std::string bad : {dir + "/none.trm", dir})
        EXPECT_FALSE(back.read(bad, err)) << bad;
    EXPECT_EQ(text_of(back), example_text);
    unlink(path.c_str());
    rmdir(dir.c_str());
}

// What a text reports, and the clean text it reads the same as: a faulty line
// is reported on its own line number and skipped. Numbers may be hex or
// octal, colours wrap at 256, a trailing separator adds no note 0, missing
// blocks leave empty sprites, with LF or CR LF.
TEST(SongRead, DiagnosticsAndWhatIsRead)
{
    const std::string sprite = "sprites: 1\nbeats: 4\nbeat: 1 36 42\n";
    auto top = [&](const char* line) { return "bpm: 90\n" + std::string(line) + "\n" + sprite + "sprite end\n"; };
    auto block = [&](const char* line) { return "bpm: 90\n" + sprite + line + "\nsprite end\n"; };
    const std::string contents = "bpm: 16\nsprites: 3\nbeats: 8\ncolor: 44, 16, 8\nbeat: 3 36\nsprite end\n"
                                 "beats: 4\ncolor: 1, 2, 0\nsprite end\nbeats: 0\nsprite end\n";
    struct { std::string text, errors, same_as; } cases[] = {
        {top("swing: 49"), "2: illegal swing: 49\n", top("")},
        {top("swing: 76"), "2: illegal swing: 76\n", top("")},
        {top("channel: 0"), "2: illegal channel: 0\n", top("")},
        {top("channel: 17"), "2: illegal channel: 17\n", top("")},
        {top("mute: 42 128 46"), "2: illegal note number: 128\n", top("mute: 42 46")},
        {top("solo: 36 -1"), "2: illegal note number: 4294967295\n", top("solo: 36")},
        {top("clock: 2"), "2: illegal clock: 2\n", top("")},
        {block("velocity: 1 36 0 42 9"), "5: illegal velocity: 0\n", block("velocity: 1 42 9")},
        {block("velocity: 1 36 128"), "5: illegal velocity: 128\n", block("")},
        {block("velocity: 1 38 90 42 90"), "5: illegal velocity note: 38\n", block("velocity: 1 42 90")},
        {block("velocity: 0 36 90"), "5: illegal velocity note: 36\n", block("")},
        {block("velocity: 4 36 90"), "5: illegal beat number: 4\n", block("")},
        {block("velocity: 1 200 90 42"), "5: illegal note number: 200\n5: missing velocity, skip note: 42\n", block("")},
        {"sprites: 1\nbeats: 4\nvelocity: 1 36 90\nbeat: 1 36\nsprite end\n", "3: illegal velocity note: 36\n",
         "sprites: 1\nbeats: 4\nbeat: 1 36\nsprite end\n"},
        {"bpm: 1\r\nhello\r\n", "2: illegal command: hello\r\n", "bpm: 1\n"},
        {"# c\n\nbeat: 1\n", "3: illegal command: beat: 1\n", ""},
        {"sprites: 1\nbpm: 3\nsprite end\n", "2: illegal command: bpm: 3\n", "sprites: 1\nsprite end\n"},
        {"sprites: 1\nbeats: 8\n#\n\r\nbeat: 8 36\nbeat: 7 36\nsprite end\n", "5: illegal beat number: 8\n",
         "sprites: 1\nbeats: 8\nbeat: 7 36\nsprite end\n"},
        {"sprites: 1\nbeats: 8\nbeat: 3 36 200 38\nsprite end\n", "3: illegal note number: 200\n",
         "sprites: 1\nbeats: 8\nbeat: 3 36 38\nsprite end\n"},
        {"sprites: 1\nsprite end\nsequence: 0 -1\n", "3: illegal sprite number, skip: 4294967295\n",
         "sprites: 1\nsprite end\nsequence: 0\n"},
        {"sprites: 0\nsequence: 0\n", "2: illegal sprite number, skip: 0\n", "sprites: 0\n"},
        {"sprites: 4097\nsequence: 0\n", "1: illegal sprite count: 4097\n2: illegal sprite number, skip: 0\n", ""},
        {"sprites: 4096\n", "", "sprites: 4096\n"},
        {"sprites: 1\nbeats: 2\nbeats: 1025\nbeat: 1 36\nsprite end\n", "3: illegal beat count: 1025\n",
         "sprites: 1\nbeats: 2\nbeat: 1 36\nsprite end\n"},
        // Entries a smaller count drops are reported in sequence order, on the count's line.
        {"sprites: 3\nsprite end\nsprite end\nsprite end\nsequence: 2 1 0 2 1\nsprites: 1\n",
         "6: illegal sprite number, skip: 2\n6: illegal sprite number, skip: 1\n"
         "6: illegal sprite number, skip: 2\n6: illegal sprite number, skip: 1\n",
         "sprites: 1\nsprite end\nsequence: 0\n"},
        {"sprites: 2\nsprite end\nsequence: 0\n", "3: illegal command: sequence: 0\n", "sprites: 2\nsprite end\n"},
        // Numbers saturate at 32 bits, also past 64; a minus negates modulo 2^32, after saturating.
        {"bpm: 18446744073709551616\nsprites: 2\nsprite end\nsprite end\nsequence: -4294967295 -4294967296 0x1\n",
         "5: illegal sprite number, skip: 4294967295\n",
         "bpm: 4294967295\nsprites: 2\nsprite end\nsprite end\nsequence: 1 1\n"},
        {"bpm: 0x10\nsprites: 3\nbeats: 8\ncolor: 300, 0x10, 010\nbeat: 3 0x24 044 \nsprite end\nbeats: 4\n"
         "color: 1, 2\nsprite end\n", "", contents},
        {"bpm: 0x10\r\nsprites: 3\r\nbeats: 8\r\ncolor: 300, 0x10, 010\r\nbeat: 3 0x24 044 \r\nsprite end\r\n"
         "beats: 4\r\ncolor: 1, 2\r\nsprite end\r\n", "", contents},
    };
    for (const auto& c : cases) {
        Song song, clean;
        EXPECT_EQ(read_text(song, c.text), c.errors) << c.text;
        EXPECT_EQ(read_text(clean, c.same_as), "") << c.same_as;
        EXPECT_EQ(text_of(song), text_of(clean)) << c.text;
    }
}

// A file larger than the limit, or a source that never ends, is refused after
// reading one byte past the limit; the song keeps what it had.
TEST(SongRead, RefusesSourcesOverTheLimit)
{
    std::string sparse = testing::TempDir() + "stepmill-big-" + std::to_string(getpid()) + ".trm";
    std::ofstream(sparse) << "bpm: 7\n";
    ASSERT_EQ(truncate(sparse.c_str(), max_file_bytes + 1), 0);
    for (std::string path : {sparse, std::string("/dev/zero")}) {
        Song song;
        read_text(song, example_text);
        std::ostringstream err;
        EXPECT_FALSE(song.read(path, err)) << path;
        EXPECT_EQ(err.str(), path + ": " + file_too_big_message + "\n");
        EXPECT_EQ(text_of(song), example_text) << path;
    }
    unlink(sparse.c_str());

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

// A long sequence, then many sprite counts that each drop some of its
// entries: a count walks only the entries it drops, or a file like this would
// take hours.
TEST(SongRead, CountsDropEntriesOfABigFile)
{
    std::string text = "sprites: 3\nsprite end\nsprite end\nsprite end\nsequence:";
    for (int i = 0; i < 200000; ++i) text += i % 2 ? " 0" : " 2";
    for (int i = 0; i < 20000; ++i) text += "\nsprites: 2\nsprite end\nsprite end";
    Song song;
    std::string errors = read_text(song, text), dropped = "6: illegal sprite number, skip: 2\n";
    EXPECT_EQ(errors.size(), 100000 * dropped.size());
    EXPECT_EQ(errors.substr(0, dropped.size()), dropped);
    EXPECT_TRUE(song.sequence == std::list<uint32_t>(100000, 0));
}

// A command either changes the song, is undone to the bytes before it and
// redone to those after it, each direction emitting its step's change; or it
// is refused and changes nothing, not even what can be redone.
TEST(Document, Commands)
{
#define DO(call) [](Document& d) { return d.call; }
    const Kind in = Kind::entry_inserted, out = Kind::entry_erased;
    auto entry = [](Kind kind, uint64_t sprite, uint64_t position) { return DocumentChange{kind, sprite, 0, 0, position}; };
    auto twice = [](DocumentChange change) { return std::vector<DocumentChange>{change, change}; };
    const DocumentChange note{Kind::note, 1, 7, 42}, beats{Kind::beats, 1}, velocity{Kind::velocity, 1, 7, 42};
    struct { std::function<bool(Document&)> command; std::vector<DocumentChange> done_undone = {}; } cases[] = {
        {DO(set_note(3, 5, 36, true)), twice({Kind::note, 3, 5, 36})},
        {DO(set_note(1, 7, 42, false)), twice(note)},   // undone at velocity 90
        {DO(set_beats(1, 1)), twice(beats)},            // dropping notes and a velocity
        {DO(set_beats(1, 32)), twice(beats)},
        {DO(set_velocity(1, 7, 42, 1)), twice(velocity)},
        {DO(set_velocity(1, 7, 42, 127)), twice(velocity)},
        {DO(set_velocity(1, 2, 38, 64)), twice({Kind::velocity, 1, 2, 38})},
        {DO(set_color(1, 0, 191, 191)), twice({Kind::color, 1})},
        {DO(set_swing(max_swing)), twice({Kind::swing})},
        {DO(set_swing(min_swing, true)), twice({Kind::swing})},
        {DO(set_channel(min_channel)), twice({Kind::channel})},
        {DO(set_channel(max_channel)), twice({Kind::channel})},
        {DO(set_mute(46, false)), twice({Kind::mute, 0, 0, 46})},
        {DO(set_mute(0, true)), twice({Kind::mute, 0, 0, 0})},
        {DO(set_solo(127, true)), twice({Kind::solo, 0, 0, 127})},
        {DO(set_clock(true)), twice({Kind::clock})},
        {DO(insert_entry(0, 35)), {entry(in, 35, 0), entry(out, 35, 0)}},
        {DO(insert_entry(3, 4)), {entry(in, 4, 3), entry(out, 4, 3)}},
        {DO(erase_entry(1)), {entry(out, 1, 1), entry(in, 1, 1)}},
        {DO(set_tempo(max_bpm)), twice({Kind::tempo})},
        // refused: out of range, or what the song already has
        {DO(set_note(36, 0, 36, true))}, {DO(set_note(0, 8, 36, true))}, {DO(set_note(0, 0, 128, true))},
        {DO(set_note(1, 2, 38, true))}, {DO(set_beats(36, 4))}, {DO(set_beats(0, max_file_beats + 1))},
        {DO(set_beats(0, 8))}, {DO(insert_entry(4, 0))}, {DO(insert_entry(0, 36))}, {DO(erase_entry(3))},
        {DO(set_tempo(min_bpm - 1))}, {DO(set_tempo(max_bpm + 1, true))}, {DO(set_tempo(120))},
        {DO(set_velocity(1, 7, 42, 90))}, {DO(set_velocity(1, 7, 42, 0))}, {DO(set_velocity(1, 7, 42, 128))},
        {DO(set_velocity(1, 7, 36, 64))}, {DO(set_velocity(1, 8, 42, 64))}, {DO(set_velocity(36, 0, 42, 64))},
        {DO(set_velocity(1, 7, 128, 64))}, {DO(set_color(1, 191, 191, 191))}, {DO(set_color(36, 0, 0, 0))},
        {DO(set_swing(min_swing - 1))}, {DO(set_swing(max_swing + 1))}, {DO(set_swing(60))},
        {DO(set_channel(min_channel - 1))}, {DO(set_channel(max_channel + 1))}, {DO(set_channel(10))},
        {DO(set_mute(46, true))}, {DO(set_mute(128, true))}, {DO(set_solo(5, false))}, {DO(set_solo(128, true))},
        {DO(set_clock(false))},
    };
#undef DO
    for (size_t i = 0; i < std::size(cases); ++i) {
        Recorded r;
        std::vector<DocumentChange> changes = cases[i].done_undone;
        bool accepted = !changes.empty();
        std::string before = text_of(r.doc.song());
        EXPECT_EQ(cases[i].command(r.doc), accepted) << i;
        std::string after = text_of(r.doc.song());
        EXPECT_EQ(after != before, accepted) << i;
        EXPECT_EQ(r.doc.can_redo(), !accepted) << i;
        if (accepted) {
            EXPECT_TRUE(r.doc.undo() && text_of(r.doc.song()) == before) << i;
            EXPECT_TRUE(r.doc.redo() && text_of(r.doc.song()) == after) << i;
            changes.push_back(changes[0]);
        }
        EXPECT_EQ(r.take(), changes) << i;
    }
}

// A drag of the tempo control is one step, but it never grows a step that was
// undone, that is no tempo step, or that was saved. Swing drags alike.
TEST(Document, DragIsOneStep)
{
    std::string path = scratch("tempo.trm"), error;
    struct { std::function<void(Document&)> edits; std::vector<std::pair<uint64_t, unsigned>> undone; } cases[] = {
        {[](Document& d) { d.set_tempo(121); d.set_tempo(122, true); d.set_tempo(130, true); }, {{120, 50}}},
        {[](Document& d) { d.set_tempo(121); d.set_tempo(122); }, {{121, 50}, {120, 50}}},
        {[](Document& d) { d.set_tempo(121); d.set_tempo(122); d.undo(); d.set_tempo(125, true); }, {{121, 50}, {120, 50}}},
        {[](Document& d) { d.set_tempo(121); d.set_note(0, 0, 36, true); d.set_tempo(122, true); },
         {{121, 50}, {121, 50}, {120, 50}}},
        {[&](Document& d) { d.set_tempo(121); d.save(path, error); d.set_tempo(122, true); }, {{121, 50}, {120, 50}}},
        {[](Document& d) { d.set_swing(55), d.set_swing(60, true), d.set_tempo(130, true), d.set_swing(65, true); },
         {{130, 60}, {120, 60}, {120, 50}}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Document doc;
        cases[i].edits(doc);
        EXPECT_TRUE(doc.modified()) << i;
        std::vector<std::pair<uint64_t, unsigned>> undone;
        while (doc.undo()) undone.emplace_back(doc.song().bpm, doc.song().swing);
        EXPECT_EQ(undone, cases[i].undone) << i;
    }
    unlink(path.c_str());
}

// Only a save or an open clears modified: an undo or redo after a save sets
// it, even back to the saved song. A failed save or open changes nothing and
// a copy leaves path and modified alone. Open clamps the tempo (a file without
// one gets a new song's), passes on the reader's messages and clears history.
TEST(Document, FilesAndModified)
{
    std::string path = scratch("a.trm"), copy = scratch("copy.trm"), error;
    std::ostringstream messages;
    Recorded r;
    ASSERT_TRUE(r.doc.save(path, error));
    EXPECT_FALSE(r.doc.modified());
    EXPECT_TRUE(r.doc.undo() && r.doc.modified() && r.doc.save(path, error) && r.doc.redo() && r.doc.modified());
    r.doc.set_tempo(90);
    for (std::string bad : {testing::TempDir(), scratch("missing/b.trm"), std::string("/dev/full")}) {
        EXPECT_FALSE(r.doc.save(bad, error) || error.empty() || r.doc.open(bad, messages)) << bad;
        error.clear();
    }
    EXPECT_TRUE(r.doc.write_copy(copy, error) && r.doc.modified() && r.doc.path() == path);
    const DocumentChange velocity{Kind::velocity, 1, 7, 42};
    EXPECT_EQ(r.take(), (std::vector<DocumentChange>{{Kind::saved}, velocity, {Kind::saved}, velocity, {Kind::tempo}}));
    do EXPECT_TRUE(r.doc.modified()); while (r.doc.undo());

    struct { const char* tempo_line; uint64_t bpm; } cases[] = {
        {"bpm: 0\n", min_bpm}, {"bpm: 4294967295\n", max_bpm}, {"bpm: 500\n", 500}, {"", 120}};
    for (const auto& c : cases) {
        std::ofstream(path) << c.tempo_line << "sprites: 1\nbeat: 0 36\nsprite end\nsequence: 0 0\n";
        r.doc.set_tempo(300);
        r.take();
        messages.str("");
        ASSERT_TRUE(r.doc.open(path, messages)) << c.tempo_line;
        EXPECT_EQ(messages.str(), (c.tempo_line[0] ? "3" : "2") + std::string(": illegal beat number: 0\n"));
        EXPECT_EQ(r.doc.song().bpm, c.bpm) << c.tempo_line;
        EXPECT_EQ(r.doc.song().sequence.size(), 2u);
        EXPECT_EQ(r.take(), std::vector{DocumentChange{Kind::whole_song}});
        EXPECT_FALSE(r.doc.modified() || r.doc.can_undo() || r.doc.can_redo());
    }
    // A recovered song is the file's, modified, to be saved where it came from.
    EXPECT_TRUE(r.doc.restore(path, "/songs/lost.trm", messages));
    EXPECT_TRUE(r.doc.modified() && !r.doc.can_undo() && r.doc.path() == "/songs/lost.trm");
    EXPECT_EQ(r.doc.song().bpm, 120u);
    Document fresh;   // a new song: 36 silent grey sprites of 8 beats
    std::string grey = "bpm: 120\r\nsprites: 36\r\n";
    for (int i = 0; i < 36; ++i) grey += "beats: 8\r\ncolor: 191, 191, 191\r\nsprite end\r\n";
    EXPECT_EQ(text_of(fresh.song()), grey);
    EXPECT_FALSE(fresh.modified() || fresh.undo() || fresh.redo() || !fresh.path().empty());
    unlink(path.c_str());
    unlink(copy.c_str());
}
