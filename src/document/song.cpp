// The song model and the song file writer.
#include "song.h"

#include "file_replace.h"

#include <algorithm>
#include <charconv>
#include <ostream>
#include <utility>

Sprite::Sprite(Song* song, uint64_t beats)
    : song(song), beats(beats), color{191, 191, 191}, notes(beats), velocities(beats) {}

void Sprite::set_beats(uint64_t count)
{
    beats = count;
    notes.resize(count);
    velocities.resize(count);
}

namespace {

// The entry of `note`, or where it would go. For const and mutable lists.
template <typename List>
auto find_velocity(List& list, uint8_t note)
{
    return std::lower_bound(list.begin(), list.end(), note,
                            [](const NoteVelocity& entry, uint8_t n) { return entry.note < n; });
}

}  // namespace

void Sprite::set_note(uint64_t beat, uint8_t note, bool on)
{
    notes[beat].set(note, on);
    set_velocity(beat, note, full_velocity);
}

uint8_t Sprite::velocity(uint64_t beat, uint8_t note) const
{
    const BeatVelocities& list = velocities[beat];
    auto at = find_velocity(list, note);
    return at != list.end() && at->note == note ? at->velocity : full_velocity;
}

void Sprite::set_velocity(uint64_t beat, uint8_t note, uint8_t velocity)
{
    BeatVelocities& list = velocities[beat];
    auto at = find_velocity(list, note);
    bool found = at != list.end() && at->note == note;
    if (velocity == full_velocity) {
        if (found) list.erase(at);
    } else if (found) {
        at->velocity = velocity;
    } else {
        list.insert(at, {note, velocity});
    }
}

Song::Song()
    : bpm(120), default_beats(8), swing(min_swing), channel(default_channel), clock(false) {}

NoteSet Song::audible() const
{
    return (solo.any() ? solo : ~NoteSet()) & ~mute;
}

uint64_t Song::beat_start(uint64_t beats, uint64_t beat, uint64_t bar) const
{
    if (beats == 0)
        return 0;
    if (beats % 2 == 1 || beat % 2 == 0)
        return bar * beat / beats;
    // The pair's first beat lasts swing percent of the pair's two.
    return (100 * bar * (beat - 1) + 2 * bar * swing) / (100 * beats);
}

void Song::reset_sprites(uint64_t count)
{
    sprites.clear();
    sprites.reserve(count);
    for (uint64_t i = 0; i < count; ++i)
        sprites.emplace_back(this, default_beats);
}

void Song::swap(Song& other)
{
    std::swap(bpm, other.bpm);
    std::swap(default_beats, other.default_beats);
    sprites.swap(other.sprites);
    sequence.swap(other.sequence);
    std::swap(swing, other.swing);
    std::swap(channel, other.channel);
    std::swap(mute, other.mute);
    std::swap(solo, other.solo);
    std::swap(clock, other.clock);
    for (Sprite& sprite : sprites) sprite.song = this;
    for (Sprite& sprite : other.sprites) sprite.song = &other;
}

namespace {

void append_number(std::string& out, uint64_t value)
{
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

void append_line(std::string& out, const char* keyword, uint64_t value)
{
    out += keyword;
    append_number(out, value);
    out += "\r\n";
}

// Blank and number for each note of the set, ascending.
void append_notes(std::string& out, const NoteSet& set)
{
    for (size_t n = set._Find_first(); n < set.size(); n = set._Find_next(n)) {
        out += ' ';
        append_number(out, n);
    }
}

// Only for the notes the beat holds: a velocity left behind by a note
// switched off directly in `notes` is not the song's.
void append_velocities(std::string& out, uint64_t beat, const NoteSet& set, const BeatVelocities& list)
{
    bool any = false;
    for (const NoteVelocity& entry : list) {
        if (!set.test(entry.note))
            continue;
        if (!any) {
            out += "velocity: ";
            append_number(out, beat);
            any = true;
        }
        out += ' ';
        append_number(out, entry.note);
        out += ' ';
        append_number(out, entry.velocity);
    }
    if (any)
        out += "\r\n";
}

void append_sprite(std::string& out, const Sprite& sprite)
{
    append_line(out, "beats: ", sprite.beats);
    out += "color: ";
    append_number(out, sprite.color[0]);
    out += ", ";
    append_number(out, sprite.color[1]);
    out += ", ";
    append_number(out, sprite.color[2]);
    out += "\r\n";
    for (size_t i = 0; i < sprite.notes.size(); ++i) {
        const NoteSet& set = sprite.notes[i];
        if (set.none())
            continue;
        out += "beat: ";
        append_number(out, i);
        append_notes(out, set);
        out += "\r\n";
        append_velocities(out, i, set, sprite.velocities[i]);
    }
    out += "sprite end\r\n";
}

std::string song_text(const Song& song)
{
    std::string out;
    // Rough size so that big songs are built without repeated regrowth.
    out.reserve(64 + song.sprites.size() * 64 + song.sequence.size() * 4);
    append_line(out, "bpm: ", song.bpm);
    // Settings at their defaults are left out, so that a song without them
    // is written as it always was, and older readers meet them rarely.
    if (song.swing != min_swing)
        append_line(out, "swing: ", song.swing);
    if (song.channel != default_channel)
        append_line(out, "channel: ", song.channel);
    for (auto [keyword, set] : {std::pair{"mute:", &song.mute}, std::pair{"solo:", &song.solo}}) {
        if (set->none())
            continue;
        out += keyword;
        append_notes(out, *set);
        out += "\r\n";
    }
    if (song.clock)
        append_line(out, "clock: ", 1);
    append_line(out, "sprites: ", song.sprites.size());
    for (const Sprite& sprite : song.sprites)
        append_sprite(out, sprite);
    if (!song.sequence.empty()) {
        out += "sequence:";
        for (uint32_t entry : song.sequence) {
            out += ' ';
            append_number(out, entry);
        }
        out += "\r\n";
    }
    return out;
}

}  // namespace

bool Sprite::write(std::ostream& out) const
{
    std::string text;
    append_sprite(text, *this);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return true;
}

void Song::write(std::ostream& out) const
{
    std::string text = song_text(*this);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

bool Song::write(const std::string& path, std::string& error) const
{
    return replace_file_contents(path, song_text(*this), error);
}

bool Song::write(const std::string& path) const
{
    return replace_file_contents(path, song_text(*this));
}
