// Writes and reads songs of growing size (sprites of 32 beats with four notes
// on every beat) and prints the throughput of each direction.
#include "song.h"

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
    return 0;
}
