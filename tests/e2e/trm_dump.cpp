// Reads a song file with the program's own reader and prints it in a plain
// form the session test compares: one line for the tempo, one per sprite
// ("sprite <i> beats <n>" and "<beat>:<note>,<note>" for every sounding
// beat), one for the sequence. Reader messages go to standard error.
// "trm_dump --title" prints the program's title, which the session expects on
// the window and on the instrument's display.
#include "program.h"
#include "song.h"

#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "--title") {
        std::cout << program_title << "\n";
        return 0;
    }
    if (argc != 2) {
        std::cerr << "usage: trm_dump <song.trm> | --title\n";
        return 2;
    }
    Song song;
    if (!song.read(argv[1], std::cerr)) {
        std::cerr << argv[1] << ": cannot be read\n";
        return 1;
    }
    std::cout << "bpm " << song.bpm << "\n";
    for (size_t i = 0; i < song.sprites.size(); ++i) {
        const Sprite& sprite = song.sprites[i];
        std::cout << "sprite " << i << " beats " << sprite.beats;
        for (size_t b = 0; b < sprite.notes.size(); ++b) {
            if (sprite.notes[b].none())
                continue;
            std::cout << " " << b << ":";
            const char* separator = "";
            for (size_t n = 0; n < sprite.notes[b].size(); ++n)
                if (sprite.notes[b].test(n)) {
                    std::cout << separator << n;
                    separator = ",";
                }
        }
        std::cout << "\n";
    }
    std::cout << "sequence";
    for (uint32_t entry : song.sequence)
        std::cout << " " << entry;
    std::cout << "\n";
    return 0;
}
