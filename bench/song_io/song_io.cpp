// Writes and reads songs of growing size (sprites of 32 beats with four notes
// on every beat) and prints the throughput of each direction; then reads files
// built to make a careless reader slow, and one that is too big.
#include "song.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>

namespace {

void fill(Song& song, unsigned sprites)
{
    song.sprites.clear();
    for (unsigned i = 0; i < sprites; ++i) {
        song.sprites.emplace_back(&song, 32);
        for (unsigned b = 0; b < 32; ++b)
            for (unsigned n : {36u, 38u, 42u, 46u + (i + b) % 30})
                song.sprites.back().notes[b].set(n);
    }
    song.sequence.clear();
    for (unsigned i = 0; i < sprites; ++i) song.sequence.push_back(i);
}

template <class F> double best_seconds(int rounds, F f)
{
    double best = 1e9;
    for (int r = 0; r < rounds; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (s < best) best = s;
    }
    return best;
}

// A long sequence, then many sprite counts: each count must not walk the
// sequence read so far.
std::string long_sequence_then_counts()
{
    std::string text = "sprites: 1\r\nsprite end\r\nsequence:";
    for (int i = 0; i < 960000; ++i) text += " 0";
    text += "\r\n";
    for (int i = 0; i < 20000; ++i) text += "sprites: 1\r\nsprite end\r\n";
    return text;
}

// The same long sequence, then counts that each drop the one entry added
// just before them.
std::string counts_dropping_one_entry()
{
    std::string text = "sprites: 2\r\nsprite end\r\nsprite end\r\nsequence:";
    for (int i = 0; i < 960000; ++i) text += " 0";
    text += "\r\n";
    for (int i = 0; i < 20000; ++i)
        text += "sequence: 1\r\nsprites: 1\r\nsprite end\r\nsprites: 2\r\nsprite end\r\nsprite end\r\n";
    return text;
}

void time_hostile(const char* name, const std::string& text)
{
    size_t entries = 0, messages = 0;
    double r = best_seconds(3, [&] {
        std::istringstream in(text);
        std::ostringstream err;
        Song copy;
        copy.read(in, err);
        entries = copy.sequence.size();
        std::string said = err.str();
        messages = static_cast<size_t>(std::count(said.begin(), said.end(), '\n'));
    });
    std::printf("%-34s %10zu %12.3f %10zu %10zu\n", name, text.size(), r * 1e3, entries, messages);
}

}  // namespace

int main()
{
    std::printf("%8s %10s %12s %12s %12s %12s\n", "sprites", "bytes", "write ms", "write MB/s",
                "read ms", "read MB/s");
    for (unsigned sprites : {10u, 100u, 1000u, 10000u}) {
        Song song;
        fill(song, sprites);
        std::string text;
        double w = best_seconds(5, [&] {
            std::ostringstream out;
            song.write(out);
            text = out.str();
        });
        double r = best_seconds(5, [&] {
            std::istringstream in(text);
            std::ostringstream err;
            Song copy;
            copy.read(in, err);
        });
        double mb = text.size() / 1e6;
        std::printf("%8u %10zu %12.3f %12.1f %12.3f %12.1f\n", sprites, text.size(), w * 1e3,
                    mb / w, r * 1e3, mb / r);
    }

    std::printf("\n%-34s %10s %12s %10s %10s\n", "hostile file", "bytes", "read ms", "entries", "messages");
    time_hostile("long sequence, 20,000 counts", long_sequence_then_counts());
    time_hostile("20,000 counts dropping one entry", counts_dropping_one_entry());
    time_hostile("64 MB + 1 byte (refused)", std::string(max_file_bytes + 1, '\n'));
    return 0;
}
