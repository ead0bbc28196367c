// The song model and the song file writer.
#include "song.h"

#include "file_replace.h"

#include <charconv>
#include <ostream>
#include <utility>

Sprite::Sprite(Song* song, uint64_t beats)
    : song(song), beats(beats), color{191, 191, 191}, notes(beats) {}

void Sprite::set_beats(uint64_t count)
{
    beats = count;
    notes.resize(count);
}

Song::Song() : bpm(120), default_beats(8) {}

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
        for (size_t n = set._Find_first(); n < set.size(); n = set._Find_next(n)) {
            out += ' ';
            append_number(out, n);
        }
        out += "\r\n";
    }
    out += "sprite end\r\n";
}

std::string song_text(const Song& song)
{
    std::string out;
    // Rough size so that big songs are built without repeated regrowth.
    out.reserve(64 + song.sprites.size() * 64 + song.sequence.size() * 4);
    append_line(out, "bpm: ", song.bpm);
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
