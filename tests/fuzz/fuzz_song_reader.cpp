// Feeds arbitrary bytes to the song reader: it must neither crash nor hang,
// and whatever it reads must keep the song's invariants.
#include "song.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::ostringstream err;
    Song song;
    song.read(in, err);
    for (const Sprite& sprite : song.sprites) {
        if (sprite.notes.size() != sprite.beats || sprite.song != &song) std::abort();
    }
    for (uint32_t entry : song.sequence) {
        if (entry >= song.sprites.size()) std::abort();
    }
    // What was read writes and reads back to the same text.
    std::ostringstream first;
    song.write(first);
    std::istringstream again(first.str());
    Song copy;
    copy.read(again, err);
    std::ostringstream second;
    copy.write(second);
    if (first.str() != second.str()) std::abort();
    return 0;
}
