// Reads a song file with the program's own reader, its messages on standard
// error, and writes the song again on standard output: as a song file, or
// with --smf as the Standard MIDI File the program exports.
//   trm_dump [--smf] <song.trm>
#include "smf_writer.h"

#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    const bool smf = argc == 3 && std::string(argv[1]) == "--smf";
    Song song;
    if ((argc != 2 && !smf) || !song.read(argv[argc - 1], std::cerr)) {
        std::cerr << "usage: trm_dump [--smf] <readable song.trm>\n";
        return 1;
    }
    std::string bytes;
    if (smf && !smf_bytes(bytes, song)) return 1;
    if (smf) std::cout << bytes;
    else song.write(std::cout);
    return 0;
}
