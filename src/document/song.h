// The rhythm document: sprites (one-bar drum patterns), the song that holds
// them with its tempo and playing order, and the .trm song file.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <iosfwd>
#include <list>
#include <string>
#include <vector>

// Bit n set: MIDI note n sounds on that beat. Always walked from note 0 up.
using NoteSet = std::bitset<128>;

class Song;

class Sprite {
public:
    Sprite(Song* song, uint64_t beats);

    // Resizes the note sets with the beat count: lower beats keep their notes,
    // added beats are silent, dropped beats lose theirs.
    void set_beats(uint64_t count);

    // One sprite block of the song file. The line counter is shared with the
    // caller and counts every line read; diagnostics go to err. Always true.
    bool read(std::istream& in, uint64_t& line_counter, std::ostream& err);
    bool write(std::ostream& out) const;

    Song* song;                       // not owned
    uint64_t beats;
    std::array<uint8_t, 3> color;     // red, green, blue
    std::vector<NoteSet> notes;       // always exactly `beats` entries
};

class Song {
public:
    Song();
    Song(const Song&) = delete;
    Song& operator=(const Song&) = delete;

    // Destroys all sprites and appends `count` silent ones of default_beats.
    void reset_sprites(uint64_t count);

    // Reads a song file. False when the file cannot be opened or read, or is
    // larger than max_file_bytes (reported on err); the song is then
    // unchanged. Faulty lines are reported on err and skipped.
    bool read(const std::string& path, std::ostream& err);
    // Reads song text from a stream; false only when it holds more than
    // max_file_bytes (reported on err, the song unchanged).
    bool read(std::istream& in, std::ostream& err);

    // Writes the song file, replacing an existing one atomically. False when
    // any step fails; an existing file is then left as it was, and `error`
    // says why.
    bool write(const std::string& path, std::string& error) const;
    bool write(const std::string& path) const;
    void write(std::ostream& out) const;

    // Exchanges all contents with another song; every sprite points to the
    // song that holds it afterwards.
    void swap(Song& other);

    uint64_t bpm;
    uint64_t default_beats;
    std::vector<Sprite> sprites;      // a sprite's number is its index
    std::list<uint32_t> sequence;     // playing order; every entry < sprites.size()
};

// Limits past which a song file's counts are refused instead of allocated.
constexpr uint64_t max_file_sprites = 4096;
constexpr uint64_t max_file_beats = 1024;
// A larger file or a source that never ends is refused with this message.
constexpr uint64_t max_file_bytes = 64ull << 20;
constexpr const char* file_too_big_message = "illegal file size, over 64 MB, not read";
