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

// A note's velocity when nothing else is said, and the range a velocity has.
constexpr uint8_t full_velocity = 127;
constexpr uint8_t min_velocity = 1;

// One note of a beat that plays softer than full_velocity.
struct NoteVelocity {
    uint8_t note;
    uint8_t velocity;   // min_velocity to full_velocity - 1
};
inline bool operator==(const NoteVelocity& a, const NoteVelocity& b)
{
    return a.note == b.note && a.velocity == b.velocity;
}
// The velocities of one beat: ascending by note, only notes the beat holds
// and never full_velocity, so that most beats hold nothing.
using BeatVelocities = std::vector<NoteVelocity>;

// Swing: the percentage of a pair of beats that its first beat lasts.
constexpr uint8_t min_swing = 50, max_swing = 75;
// MIDI channels as the user counts them; 10 is General MIDI's percussion.
constexpr uint8_t min_channel = 1, max_channel = 16, default_channel = 10;

class Song;

class Sprite {
public:
    Sprite(Song* song, uint64_t beats);

    // Resizes the note sets with the beat count: lower beats keep their notes
    // and velocities, added beats are silent, dropped beats lose theirs.
    void set_beats(uint64_t count);

    // Switches a note on at full_velocity, or off, forgetting its velocity.
    // beat < beats, note < 128.
    void set_note(uint64_t beat, uint8_t note, bool on);
    // The velocity of a note the beat holds; full_velocity unless set lower.
    uint8_t velocity(uint64_t beat, uint8_t note) const;
    // For a note the beat holds: beat < beats, velocity min_velocity to
    // full_velocity.
    void set_velocity(uint64_t beat, uint8_t note, uint8_t velocity);

    // One sprite block of the song file. The line counter is shared with the
    // caller and counts every line read; diagnostics go to err. Always true.
    bool read(std::istream& in, uint64_t& line_counter, std::ostream& err);
    bool write(std::ostream& out) const;

    Song* song;                       // not owned
    uint64_t beats;
    std::array<uint8_t, 3> color;     // red, green, blue
    std::vector<NoteSet> notes;       // always exactly `beats` entries
    // Always exactly `beats` entries. Notes switched with set_note keep
    // their velocities with them.
    std::vector<BeatVelocities> velocities;
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
    // unchanged. Faulty lines are reported on err and skipped. Swing,
    // channel, mute, solo and clock the file leaves out are at their defaults.
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

    // The notes that sound: none that is muted, and while any note is soloed,
    // only soloed ones. Playback and export both ask this alone.
    NoteSet audible() const;
    // Where beat `beat` (0 to `beats`, `beats` being the bar's end) of a sprite
    // of `beats` beats starts, in a bar of `bar` units, rounded down. With an
    // even beat count each odd beat comes late by the swing; at 50 every beat
    // is at bar * beat / beats. bar * 100 * beats must fit 64 bits.
    uint64_t beat_start(uint64_t beats, uint64_t beat, uint64_t bar) const;

    uint64_t bpm;
    uint64_t default_beats;
    std::vector<Sprite> sprites;      // a sprite's number is its index
    std::list<uint32_t> sequence;     // playing order; every entry < sprites.size()
    uint8_t swing;                    // min_swing to max_swing
    uint8_t channel;                  // min_channel to max_channel
    NoteSet mute;                     // notes never played
    NoteSet solo;                     // when any: the only notes played
    bool clock;                       // send MIDI clock while playing
};

// Limits past which a song file's counts are refused instead of allocated.
constexpr uint64_t max_file_sprites = 4096;
constexpr uint64_t max_file_beats = 1024;
// A larger file or a source that never ends is refused with this message.
constexpr uint64_t max_file_bytes = 64ull << 20;
constexpr const char* file_too_big_message = "illegal file size, over 64 MB, not read";
