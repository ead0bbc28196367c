// Exports a sequence of 10,000 entries of 32-beat sprites with four notes on
// every beat, in memory and to a file, and prints the throughput.
#include "file_replace.h"
#include "smf_writer.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <unistd.h>

int main()
{
    Song song;
    for (unsigned i = 0; i < 16; ++i) {
        song.sprites.emplace_back(&song, 32);
        for (unsigned b = 0; b < 32; ++b)
            for (unsigned n : {36u, 38u, 42u, 50u + i})
                song.sprites.back().notes[b].set(n);
    }
    const unsigned entries = 10000;
    for (unsigned k = 0; k < entries; ++k) song.sequence.push_back(k % 16);

    std::string path = "/tmp/bench_smf_export_" + std::to_string(getpid()) + ".mid";
    double best_memory = 1e9, best_file = 1e9;
    std::string bytes;
    for (int round = 0; round < 5; ++round) {
        auto t0 = std::chrono::steady_clock::now();
        if (!smf_bytes(bytes, song)) return 1;
        auto t1 = std::chrono::steady_clock::now();
        if (!replace_file_contents(path, bytes)) return 1;
        auto t2 = std::chrono::steady_clock::now();
        best_memory = std::min(best_memory, std::chrono::duration<double>(t1 - t0).count());
        best_file = std::min(best_file, std::chrono::duration<double>(t2 - t0).count());
    }
    unlink(path.c_str());
    double mb = bytes.size() / 1e6;
    std::printf("entries %u, file %.1f MB\n", entries, mb);
    std::printf("in memory:      %8.1f MB/s, %6.2f us per entry\n", mb / best_memory,
                best_memory * 1e6 / entries);
    std::printf("written to disk: %7.1f MB/s, %6.2f us per entry\n", mb / best_file,
                best_file * 1e6 / entries);
    return 0;
}
