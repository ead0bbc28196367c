// The document's undo history on a big song (256 sprites, 2,000 entries):
// its memory after 10,000 mixed edits, and the time of one edit, undo and
// redo of every command.
#include "document.h"

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

// Bytes in use on the heap, large blocks (mapped on their own) included.
size_t heap_in_use()
{
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

constexpr unsigned sprites = 256, entries = 2000, beats = 16;

// The big song as a file, opened as the program opens one.
void open_big_song(Document& doc, const std::string& path)
{
    Song song;
    for (unsigned i = 0; i < sprites; ++i) {
        Sprite& sprite = song.sprites.emplace_back(&song, beats);
        for (unsigned b = 0; b < beats; b += 2) sprite.notes[b].set(36 + (i + b) % 12);
    }
    for (unsigned i = 0; i < entries; ++i) song.sequence.push_back(i % sprites);
    std::ostringstream messages;
    if (!song.write(path) || !doc.open(path, messages)) {
        std::fprintf(stderr, "%s: cannot write and open the song\n", path.c_str());
        std::exit(1);
    }
}

// One edit of each command, numbered so that every call changes the song.
const struct {
    const char* name;
    std::function<bool(Document&, unsigned)> edit;
} commands[] = {
    {"set_note", [](Document& d, unsigned i) { return d.set_note(i % sprites, i / sprites % beats, 60 + i / (sprites * beats), true); }},
    {"set_beats", [](Document& d, unsigned i) { return d.set_beats(i % sprites, i / sprites % 2 ? beats : beats / 2); }},
    {"insert_entry", [](Document& d, unsigned i) { return d.insert_entry(i * 7919u % (d.song().sequence.size() + 1), i % sprites); }},
    {"erase_entry", [](Document& d, unsigned i) { return d.erase_entry(i * 7919u % d.song().sequence.size()); }},
    {"set_tempo", [](Document& d, unsigned i) { return d.set_tempo(60 + i % 500); }},
};

double seconds_of(const std::function<void()>& f)
{
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main()
{
    char name[] = "/tmp/stepmill-bench-document-XXXXXX";
    std::string dir = mkdtemp(name), path = dir + "/big.trm";
    const unsigned edits = 10000;

    {
        Document doc;
        open_big_song(doc, path);
        size_t heap_before = heap_in_use();
        unsigned made = 0;
        for (unsigned i = 0; i < edits; ++i)
            made += commands[i % 5].edit(doc, i / 5);
        size_t heap_after = heap_in_use();
        std::printf("song: %u sprites of %u beats, %u entries\n", sprites, beats, entries);
        std::printf("after %u mixed edits (%u steps): history %zu bytes (%.1f per step); heap growth %zd bytes\n\n",
                    edits, made, doc.history_bytes(), double(doc.history_bytes()) / made,
                    static_cast<ssize_t>(heap_after - heap_before));
    }

    // An erase needs an entry: edits of that command are as many as the sequence has.
    std::printf("%-14s %7s %10s %10s %10s\n", "command", "steps", "edit us", "undo us", "redo us");
    for (const auto& command : commands) {
        Document doc;
        open_big_song(doc, path);
        unsigned wanted = std::string(command.name) == "erase_entry" ? entries : edits, count = 0;
        double edit = seconds_of([&] {
            for (unsigned i = 0; i < wanted; ++i) count += command.edit(doc, i);
        });
        double undo = seconds_of([&] { while (doc.undo()) {} });
        double redo = seconds_of([&] { while (doc.redo()) {} });
        std::printf("%-14s %7u %10.3f %10.3f %10.3f\n", command.name, count, edit * 1e6 / wanted,
                    undo * 1e6 / count, redo * 1e6 / count);
    }
    unlink(path.c_str());
    rmdir(dir.c_str());
    return 0;
}
