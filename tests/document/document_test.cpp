#include "document.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <unistd.h>
#include <utility>

namespace {

using Kind = DocumentChange::Kind;
using Command = std::function<bool(Document&)>;

std::string text_of(const Song& song)
{
    std::ostringstream out;
    song.write(out);
    return out.str();
}

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

// A command either changes the song, is undone to the bytes before it and
// redone to those after it, each direction emitting its step's change; or it
// is refused and changes nothing, not even what can be redone.
TEST(Document, Commands)
{
    const Kind in = Kind::entry_inserted, out = Kind::entry_erased;
    auto entry = [](Kind kind, uint64_t sprite, uint64_t position) { return DocumentChange{kind, sprite, 0, 0, position}; };
    const DocumentChange note{Kind::note, 1, 7, 42}, beats{Kind::beats, 1}, tempo{Kind::tempo};
    const DocumentChange velocity{Kind::velocity, 1, 7, 42}, color{Kind::color, 1};
    auto setting = [](Kind kind, uint8_t note = 0) {
        return std::vector<DocumentChange>{{kind, 0, 0, note}, {kind, 0, 0, note}};
    };
    struct { Command command; std::vector<DocumentChange> done_undone = {}; } cases[] = {
        {[](Document& d) { return d.set_note(3, 5, 36, true); }, {{Kind::note, 3, 5, 36}, {Kind::note, 3, 5, 36}}},
        {[](Document& d) { return d.set_note(1, 7, 42, false); }, {note, note}},   // undone at velocity 90
        {[](Document& d) { return d.set_beats(1, 1); }, {beats, beats}},   // dropping notes and a velocity
        {[](Document& d) { return d.set_beats(1, 32); }, {beats, beats}},
        {[](Document& d) { return d.set_velocity(1, 7, 42, 1); }, {velocity, velocity}},
        {[](Document& d) { return d.set_velocity(1, 7, 42, 127); }, {velocity, velocity}},
        {[](Document& d) { return d.set_velocity(1, 2, 38, 64); },
         {{Kind::velocity, 1, 2, 38}, {Kind::velocity, 1, 2, 38}}},
        {[](Document& d) { return d.set_color(1, 0, 191, 191); }, {color, color}},
        {[](Document& d) { return d.set_swing(max_swing); }, setting(Kind::swing)},
        {[](Document& d) { return d.set_swing(min_swing, true); }, setting(Kind::swing)},
        {[](Document& d) { return d.set_channel(min_channel); }, setting(Kind::channel)},
        {[](Document& d) { return d.set_channel(max_channel); }, setting(Kind::channel)},
        {[](Document& d) { return d.set_mute(46, false); }, setting(Kind::mute, 46)},
        {[](Document& d) { return d.set_mute(0, true); }, setting(Kind::mute, 0)},
        {[](Document& d) { return d.set_solo(127, true); }, setting(Kind::solo, 127)},
        {[](Document& d) { return d.set_clock(true); }, setting(Kind::clock)},
        {[](Document& d) { return d.insert_entry(0, 35); }, {entry(in, 35, 0), entry(out, 35, 0)}},
        {[](Document& d) { return d.insert_entry(3, 4); }, {entry(in, 4, 3), entry(out, 4, 3)}},
        {[](Document& d) { return d.erase_entry(1); }, {entry(out, 1, 1), entry(in, 1, 1)}},
        {[](Document& d) { return d.set_tempo(max_bpm); }, {tempo, tempo}},
        // refused
        {[](Document& d) { return d.set_note(36, 0, 36, true); }}, {[](Document& d) { return d.set_note(0, 8, 36, true); }},
        {[](Document& d) { return d.set_note(0, 0, 128, true); }}, {[](Document& d) { return d.set_note(1, 2, 38, true); }},
        {[](Document& d) { return d.set_beats(36, 4); }}, {[](Document& d) { return d.set_beats(0, max_file_beats + 1); }},
        {[](Document& d) { return d.set_beats(0, 8); }}, {[](Document& d) { return d.insert_entry(4, 0); }},
        {[](Document& d) { return d.insert_entry(0, 36); }}, {[](Document& d) { return d.erase_entry(3); }},
        {[](Document& d) { return d.set_tempo(min_bpm - 1); }}, {[](Document& d) { return d.set_tempo(max_bpm + 1, true); }},
        {[](Document& d) { return d.set_tempo(120); }},
        {[](Document& d) { return d.set_velocity(1, 7, 42, 90); }},
        {[](Document& d) { return d.set_velocity(1, 7, 42, 0); }},
        {[](Document& d) { return d.set_velocity(1, 7, 42, 128); }},
        {[](Document& d) { return d.set_velocity(1, 7, 36, 64); }},   // a note the beat does not hold
        {[](Document& d) { return d.set_velocity(1, 8, 42, 64); }},
        {[](Document& d) { return d.set_velocity(36, 0, 42, 64); }},
        {[](Document& d) { return d.set_velocity(1, 7, 128, 64); }},
        {[](Document& d) { return d.set_color(1, 191, 191, 191); }}, {[](Document& d) { return d.set_color(36, 0, 0, 0); }},
        {[](Document& d) { return d.set_swing(min_swing - 1); }}, {[](Document& d) { return d.set_swing(max_swing + 1); }},
        {[](Document& d) { return d.set_swing(60); }}, {[](Document& d) { return d.set_channel(min_channel - 1); }},
        {[](Document& d) { return d.set_channel(max_channel + 1); }}, {[](Document& d) { return d.set_channel(10); }},
        {[](Document& d) { return d.set_mute(46, true); }}, {[](Document& d) { return d.set_mute(128, true); }},
        {[](Document& d) { return d.set_solo(5, false); }}, {[](Document& d) { return d.set_solo(128, true); }},
        {[](Document& d) { return d.set_clock(false); }},
    };
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
// undone, that is no tempo step, or that was saved.
TEST(Document, TempoDragIsOneStep)
{
    std::string path = scratch("tempo.trm"), error;
    struct { std::function<void(Document&)> edits; std::vector<uint64_t> undone; } cases[] = {
        {[](Document& d) { d.set_tempo(121); d.set_tempo(122, true); d.set_tempo(130, true); }, {120}},
        {[](Document& d) { d.set_tempo(121); d.set_tempo(122); }, {121, 120}},
        {[](Document& d) { d.set_tempo(121); d.set_tempo(122); d.undo(); d.set_tempo(125, true); }, {121, 120}},
        {[](Document& d) { d.set_tempo(121); d.set_note(0, 0, 36, true); d.set_tempo(122, true); }, {121, 121, 120}},
        {[&](Document& d) { d.set_tempo(121); d.save(path, error); d.set_tempo(122, true); }, {121, 120}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Document doc;
        cases[i].edits(doc);
        EXPECT_TRUE(doc.modified()) << i;
        std::vector<uint64_t> undone;
        while (doc.undo()) undone.push_back(doc.song().bpm);
        EXPECT_EQ(undone, cases[i].undone) << i;
    }
    unlink(path.c_str());

    // Swing drags alike, and a drag grows only a step of its own kind.
    Document doc;
    doc.set_swing(55), doc.set_swing(60, true), doc.set_tempo(130, true), doc.set_swing(65, true);
    std::vector<std::pair<uint64_t, unsigned>> undone;
    while (doc.undo()) undone.emplace_back(doc.song().bpm, doc.song().swing);
    EXPECT_EQ(undone, (std::vector<std::pair<uint64_t, unsigned>>{{130, 60}, {120, 60}, {120, 50}}));
}

// Only a save or an open clears modified; a failed save or open changes nothing and
// a copy leaves path and modified alone. Open clamps the tempo (a file without
// one gets a new song's), passes on the reader's messages and clears history.
TEST(Document, FilesAndModified)
{
    std::string path = scratch("a.trm"), copy = scratch("copy.trm"), error;
    std::ostringstream messages;
    Recorded r;
    ASSERT_TRUE(r.doc.save(path, error));
    EXPECT_TRUE(r.doc.undo() && r.doc.modified() && r.doc.redo() && r.doc.modified()) << "taken back is still done";
    r.doc.set_tempo(90);
    for (std::string bad : {testing::TempDir(), scratch("missing/b.trm"), std::string("/dev/full")}) {
        EXPECT_FALSE(r.doc.save(bad, error) || error.empty() || r.doc.open(bad, messages)) << bad;
        error.clear();
    }
    EXPECT_TRUE(r.doc.write_copy(copy, error) && r.doc.modified() && r.doc.path() == path);
    const DocumentChange velocity{Kind::velocity, 1, 7, 42};
    EXPECT_EQ(r.take(), (std::vector<DocumentChange>{{Kind::saved}, velocity, velocity, {Kind::tempo}}));
    do EXPECT_TRUE(r.doc.modified()); while (r.doc.undo());

    struct { const char* tempo_line; uint64_t bpm; } cases[] = {
        {"bpm: 0\n", min_bpm}, {"bpm: 4294967295\n", max_bpm}, {"bpm: 500\n", 500}, {"", 120}};
    for (const auto& c : cases) {
        std::ofstream(path) << c.tempo_line << "sprites: 1\nbeat: 0 36\nsprite end\nsequence: 0 0\n";
        r.take();
        messages.str("");
        ASSERT_TRUE(r.doc.open(path, messages)) << c.tempo_line;
        EXPECT_EQ(messages.str(), (c.tempo_line[0] ? "3" : "2") + std::string(": illegal beat number: 0\n"));
        EXPECT_EQ(r.doc.song().bpm, c.bpm) << c.tempo_line;
        EXPECT_EQ(r.doc.song().sequence.size(), 2u);
        EXPECT_EQ(r.take(), std::vector{DocumentChange{Kind::whole_song}});
        EXPECT_FALSE(r.doc.modified() || r.doc.can_undo() || r.doc.can_redo());
        r.doc.set_tempo(300);
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
