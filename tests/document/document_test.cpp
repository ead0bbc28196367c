#include "document.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <unistd.h>
#include <utility>

namespace {

using Kind = DocumentChange::Kind;

std::string text_of(const Song& song)
{
    std::ostringstream out;
    song.write(out);
    return out.str();
}

std::string file_bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string temp_dir()
{
    char name[] = "/tmp/stepmill-document-XXXXXX";
    return mkdtemp(name);
}

// A document with a sequence of 0, 1, 2 and notes on beats 2 and 7 of sprite 1,
// whose changes are recorded from then on.
struct Recorded {
    Recorded()
    {
        for (uint32_t sprite : {0u, 1u, 2u}) doc.insert_entry(sprite, sprite);
        doc.set_note(1, 2, 38, true);
        doc.set_note(1, 7, 42, true);
        doc.signal_changed().connect([this](const DocumentChange& change) { changes.push_back(change); });
    }
    std::vector<DocumentChange> take() { return std::exchange(changes, {}); }
    Document doc;
    std::vector<DocumentChange> changes;
};

}  // namespace

void PrintTo(const DocumentChange& c, std::ostream* out)
{
    *out << "{kind " << int(c.kind) << " sprite " << c.sprite << " beat " << c.beat << " note " << int(c.note)
         << " position " << c.position << "}";
}

TEST(Document, NewSong)
{
    Document doc;
    Song song;
    song.reset_sprites(36);
    EXPECT_EQ(text_of(doc.song()), text_of(song));
    EXPECT_EQ(doc.path(), "");
    EXPECT_FALSE(doc.modified() || doc.can_undo() || doc.can_redo());
}

// Every command is undone to the bytes before it and redone to those after it,
// and each direction emits exactly the change of its step.
TEST(Document, EveryCommandUndoesAndRedoes)
{
    struct {
        const char* name;
        std::function<bool(Document&)> command;
        DocumentChange done, undone;
    } cases[] = {
        {"note on", [](Document& d) { return d.set_note(3, 5, 36, true); }, {Kind::note, 3, 5, 36}, {Kind::note, 3, 5, 36}},
        {"note off", [](Document& d) { return d.set_note(1, 7, 42, false); }, {Kind::note, 1, 7, 42}, {Kind::note, 1, 7, 42}},
        {"beats shortened over notes", [](Document& d) { return d.set_beats(1, 1); }, {Kind::beats, 1}, {Kind::beats, 1}},
        {"beats lengthened", [](Document& d) { return d.set_beats(1, 32); }, {Kind::beats, 1}, {Kind::beats, 1}},
        {"insert first", [](Document& d) { return d.insert_entry(0, 35); },
         {Kind::entry_inserted, 35, 0, 0, 0}, {Kind::entry_erased, 35, 0, 0, 0}},
        {"insert last", [](Document& d) { return d.insert_entry(3, 4); },
         {Kind::entry_inserted, 4, 0, 0, 3}, {Kind::entry_erased, 4, 0, 0, 3}},
        {"erase middle", [](Document& d) { return d.erase_entry(1); },
         {Kind::entry_erased, 1, 0, 0, 1}, {Kind::entry_inserted, 1, 0, 0, 1}},
        {"erase last", [](Document& d) { return d.erase_entry(2); },
         {Kind::entry_erased, 2, 0, 0, 2}, {Kind::entry_inserted, 2, 0, 0, 2}},
        {"tempo", [](Document& d) { return d.set_tempo(max_bpm); }, {Kind::tempo}, {Kind::tempo}},
    };
    for (const auto& c : cases) {
        Recorded r;
        std::string before = text_of(r.doc.song());
        ASSERT_TRUE(c.command(r.doc)) << c.name;
        std::string after = text_of(r.doc.song());
        EXPECT_NE(after, before) << c.name;
        EXPECT_EQ(r.take(), std::vector{c.done}) << c.name;
        EXPECT_TRUE(r.doc.modified()) << c.name;
        ASSERT_TRUE(r.doc.undo()) << c.name;
        EXPECT_EQ(text_of(r.doc.song()), before) << c.name;
        EXPECT_EQ(r.take(), std::vector{c.undone}) << c.name;
        ASSERT_TRUE(r.doc.redo()) << c.name;
        EXPECT_EQ(text_of(r.doc.song()), after) << c.name;
        EXPECT_EQ(r.take(), std::vector{c.done}) << c.name;
        EXPECT_FALSE(r.doc.redo()) << c.name;
    }
}

TEST(Document, OutOfRangeAndUnchangingCommandsDoNothing)
{
    std::function<bool(Document&)> commands[] = {
        [](Document& d) { return d.set_note(36, 0, 36, true); },
        [](Document& d) { return d.set_note(0, 8, 36, true); },
        [](Document& d) { return d.set_note(0, 0, 128, true); },
        [](Document& d) { return d.set_note(1, 2, 38, true); },   // already on
        [](Document& d) { return d.set_note(1, 3, 38, false); },  // already off
        [](Document& d) { return d.set_beats(36, 4); },
        [](Document& d) { return d.set_beats(0, max_file_beats + 1); },
        [](Document& d) { return d.set_beats(0, 8); },
        [](Document& d) { return d.insert_entry(4, 0); },
        [](Document& d) { return d.insert_entry(0, 36); },
        [](Document& d) { return d.erase_entry(3); },
        [](Document& d) { return d.set_tempo(min_bpm - 1); },
        [](Document& d) { return d.set_tempo(max_bpm + 1, true); },
        [](Document& d) { return d.set_tempo(120); },
    };
    for (size_t i = 0; i < std::size(commands); ++i) {
        Recorded r;
        r.doc.undo();   // so that a wrong step would also show as a lost redo
        r.take();
        std::string before = text_of(r.doc.song());
        EXPECT_FALSE(commands[i](r.doc)) << i;
        EXPECT_EQ(text_of(r.doc.song()), before) << i;
        EXPECT_TRUE(r.take().empty()) << i;
        EXPECT_TRUE(r.doc.can_redo()) << i;
    }
    Document fresh;
    EXPECT_FALSE(fresh.undo() || fresh.redo());
}

// A drag of the tempo control is one step, but never merged into a step that
// was undone, that is not a tempo step, or that was saved.
TEST(Document, TempoStepsMerge)
{
    std::string dir = temp_dir(), error;
    struct {
        const char* name;
        std::function<void(Document&)> edits;
        std::vector<uint64_t> undone;   // the tempo after each undo until none is left
    } cases[] = {
        {"drag", [](Document& d) { d.set_tempo(121); d.set_tempo(122, true); d.set_tempo(130, true); }, {120}},
        {"no merge asked", [](Document& d) { d.set_tempo(121); d.set_tempo(122); }, {121, 120}},
        {"after undo", [](Document& d) { d.set_tempo(121); d.set_tempo(122); d.undo(); d.set_tempo(125, true); },
         {121, 120}},
        {"after a note", [](Document& d) { d.set_tempo(121); d.set_note(0, 0, 36, true); d.set_tempo(122, true); },
         {121, 121, 120}},
        {"after a save", [&](Document& d) { d.set_tempo(121); d.save(dir + "/s.trm", error); d.set_tempo(122, true); },
         {121, 120}},
    };
    for (const auto& c : cases) {
        Document doc;
        c.edits(doc);
        EXPECT_TRUE(doc.modified()) << c.name;
        std::vector<uint64_t> undone;
        while (doc.undo()) undone.push_back(doc.song().bpm);
        EXPECT_EQ(undone, c.undone) << c.name;
    }
    unlink((dir + "/s.trm").c_str());
    rmdir(dir.c_str());
}

// Modified follows the save point through undo and redo; a failed save gives
// the reason and changes nothing; a copy touches neither path nor modified.
TEST(Document, SaveAndCopy)
{
    std::string dir = temp_dir(), path = dir + "/a.trm", copy = dir + "/copy.trm", error;
    Recorded r;
    ASSERT_TRUE(r.doc.save(path, error));
    EXPECT_EQ(r.take(), std::vector{DocumentChange{Kind::saved}});
    EXPECT_EQ(file_bytes(path), text_of(r.doc.song()));
    EXPECT_EQ(r.doc.path(), path);
    EXPECT_FALSE(r.doc.modified());
    r.doc.undo();
    EXPECT_TRUE(r.doc.modified());
    r.doc.redo();
    EXPECT_FALSE(r.doc.modified());

    r.doc.set_tempo(90);
    for (std::string bad : {dir, dir + "/missing/b.trm", std::string("/dev/full")}) {
        error.clear();
        EXPECT_FALSE(r.doc.save(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
        EXPECT_TRUE(r.doc.modified()) << bad;
        EXPECT_EQ(r.doc.path(), path) << bad;
    }
    ASSERT_TRUE(r.doc.write_copy(copy, error));
    EXPECT_EQ(file_bytes(copy), text_of(r.doc.song()));
    EXPECT_TRUE(r.doc.modified());
    EXPECT_EQ(r.doc.path(), path);

    // Once a new step replaces the saved one's redo, no undo comes back to it.
    r.doc.undo();
    EXPECT_FALSE(r.doc.modified());
    r.doc.undo();
    r.doc.set_tempo(91);
    while (r.doc.undo()) EXPECT_TRUE(r.doc.modified());
    for (const std::string& p : {path, copy}) unlink(p.c_str());
    rmdir(dir.c_str());
}

// Opening replaces the song (a tempo it lacks is the new song's, one out of
// range is clamped), clears history and modified; a failed open changes nothing.
TEST(Document, Open)
{
    std::string dir = temp_dir(), path = dir + "/in.trm";
    struct { const char* tempo_line; uint64_t bpm; } cases[] = {
        {"bpm: 0\n", min_bpm}, {"bpm: 4294967295\n", max_bpm}, {"bpm: 500\n", 500}, {"", 120},
    };
    for (const auto& c : cases) {
        std::ofstream(path) << c.tempo_line << "sprites: 2\nbeats: 4\nbeat: 9 36\nsprite end\nsprite end\nsequence: 1 0\n";
        Recorded r;
        r.doc.set_tempo(300);
        r.take();
        std::ostringstream messages;
        ASSERT_TRUE(r.doc.open(path, messages)) << c.tempo_line;
        EXPECT_EQ(messages.str(), c.tempo_line[0] ? "4: illegal beat number: 9\n" : "3: illegal beat number: 9\n");
        EXPECT_EQ(r.doc.song().bpm, c.bpm) << c.tempo_line;
        EXPECT_EQ(r.doc.song().sequence, (std::list<uint32_t>{1, 0}));
        EXPECT_EQ(r.take(), std::vector{DocumentChange{Kind::whole_song}});
        EXPECT_EQ(r.doc.path(), path);
        EXPECT_FALSE(r.doc.modified() || r.doc.can_undo() || r.doc.can_redo());
    }

    Recorded r;
    std::string before = text_of(r.doc.song());
    std::ostringstream messages;
    for (std::string bad : {dir + "/none.trm", dir, std::string("/dev/zero")})
        EXPECT_FALSE(r.doc.open(bad, messages)) << bad;
    EXPECT_EQ(text_of(r.doc.song()), before);
    EXPECT_TRUE(r.take().empty());
    EXPECT_TRUE(r.doc.modified() && r.doc.can_undo());
    EXPECT_EQ(r.doc.path(), "");
    unlink(path.c_str());
    rmdir(dir.c_str());
}
