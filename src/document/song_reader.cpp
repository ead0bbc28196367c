// The song file reader. The text is scanned in memory, line by line; every
// fault is reported on the error stream and skipped.
#include "song.h"
#include "song_scan.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>
#include <string_view>

namespace {

bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

int digit_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

}  // namespace

scan_result_t scan_u32(const char* start, const char* end)
{
    const char* p = start;
    while (p < end && is_space(*p)) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    unsigned base = 10;
    if (p < end && *p == '0') {
        if (p + 2 < end && (p[1] == 'x' || p[1] == 'X') && digit_value(p[2]) < 16) {
            base = 16;
            p += 2;
        } else {
            base = 8;
        }
    }
    const char* first = p;
    uint64_t value = 0;
    bool overflow = false;
    for (; p < end; ++p) {
        int d = digit_value(*p);
        if (d >= static_cast<int>(base)) break;
        if (!overflow) {
            value = value * base + static_cast<unsigned>(d);
            if (value > 0xFFFFFFFFu) overflow = true;
        }
    }
    if (p == first) return {0, start, false};
    if (overflow) return {0xFFFFFFFFu, p, true};
    uint32_t v = static_cast<uint32_t>(value);
    return {negative ? static_cast<uint32_t>(0u - v) : v, p, true};
}

namespace {

using line_t = std::string_view;

// Lines of an in-memory text, split at LF.
class text_lines_t {
public:
    explicit text_lines_t(std::string_view text) : text(text) {}
    bool next(line_t& line)
    {
        if (pos >= text.size()) return false;
        size_t lf = text.find('\n', pos);
        if (lf == std::string_view::npos) lf = text.size();
        line = text.substr(pos, lf - pos);
        pos = lf + 1;
        return true;
    }
private:
    std::string_view text;
    size_t pos = 0;
};

// Lines of a stream, for reading a single block.
class stream_lines_t {
public:
    explicit stream_lines_t(std::istream& in) : in(in) {}
    bool next(line_t& line)
    {
        if (!std::getline(in, buffer)) return false;
        line = buffer;
        return true;
    }
private:
    std::istream& in;
    std::string buffer;
};

bool starts_with(line_t line, const char* keyword)
{
    size_t n = std::strlen(keyword);
    return line.size() >= n && std::memcmp(line.data(), keyword, n) == 0;
}

bool is_blank_or_comment(line_t line)
{
    return line.empty() || (line.size() == 1 && line[0] == '\r') || line[0] == '#';
}

void report(std::ostream& err, uint64_t line_number, const char* literal, uint64_t value)
{
    err << line_number << literal << value << '\n' << std::flush;
}

void report_command(std::ostream& err, uint64_t line_number, line_t line)
{
    err << line_number << ": illegal command: ";
    err.write(line.data(), static_cast<std::streamsize>(line.size()));
    err << '\n' << std::flush;
}

const char* line_end(line_t line) { return line.data() + line.size(); }

// The first number of a line begins right after its first ':'.
scan_result_t first_number(line_t line)
{
    size_t colon = line.find(':');
    const char* p = colon == line_t::npos ? line_end(line) : line.data() + colon + 1;
    return scan_u32(p, line_end(line));
}

// The numbers that follow, each one character after the previous; a separator
// without a number after it ends the line's numbers.
template <typename Each>
void for_each_next_number(const char* p, line_t line, Each each)
{
    const char* end = line_end(line);
    while (p < end && *p != '\r') {
        scan_result_t next = scan_u32(p + 1, end);
        if (!next.digits) return;
        each(next.value);
        p = next.end;
    }
}

void read_color(Sprite& sprite, line_t line)
{
    const char* end = line_end(line);
    scan_result_t number = first_number(line);
    sprite.color = {0, 0, 0};
    sprite.color[0] = static_cast<uint8_t>(number.value);
    for (int channel = 1; channel < 3; ++channel) {
        if (number.end >= end) return;
        number = scan_u32(number.end + 1, end);
        sprite.color[channel] = static_cast<uint8_t>(number.value);
    }
}

// The note numbers after `p` join the set; those above 127 are reported.
void add_notes(NoteSet& set, const char* p, line_t line, uint64_t line_number, std::ostream& err)
{
    for_each_next_number(p, line, [&](uint32_t note) {
        if (note > 127)
            report(err, line_number, ": illegal note number: ", note);
        else
            set.set(note);
    });
}

void read_beat(Sprite& sprite, line_t line, uint64_t line_number, std::ostream& err)
{
    scan_result_t beat = first_number(line);
    if (beat.value >= sprite.beats) {
        report(err, line_number, ": illegal beat number: ", beat.value);
        return;
    }
    add_notes(sprite.notes[beat.value], beat.end, line, line_number, err);
}

// Pairs of a note the beat holds and its velocity.
void read_velocity(Sprite& sprite, line_t line, uint64_t line_number, std::ostream& err)
{
    scan_result_t beat = first_number(line);
    if (beat.value >= sprite.beats) {
        report(err, line_number, ": illegal beat number: ", beat.value);
        return;
    }
    const NoteSet& set = sprite.notes[beat.value];
    bool have_note = false;
    uint32_t note = 0;
    for_each_next_number(beat.end, line, [&](uint32_t number) {
        have_note = !have_note;
        if (have_note) {
            note = number;
            return;
        }
        if (note > 127)
            report(err, line_number, ": illegal note number: ", note);
        else if (!set.test(note))
            report(err, line_number, ": illegal velocity note: ", note);
        else if (number < min_velocity || number > full_velocity)
            report(err, line_number, ": illegal velocity: ", number);
        else
            sprite.set_velocity(beat.value, static_cast<uint8_t>(note), static_cast<uint8_t>(number));
    });
    if (have_note)
        report(err, line_number, ": missing velocity, skip note: ", note);
}

template <typename Lines>
void read_block(Sprite& sprite, Lines& lines, uint64_t& line_counter, std::ostream& err)
{
    line_t line;
    while (lines.next(line)) {
        uint64_t number = ++line_counter;
        if (starts_with(line, "beats:")) {
            uint32_t count = first_number(line).value;
            if (count > max_file_beats)
                report(err, number, ": illegal beat count: ", count);
            else
                sprite.set_beats(count);
        } else if (starts_with(line, "color:")) {
            read_color(sprite, line);
        } else if (starts_with(line, "beat:")) {
            read_beat(sprite, line, number, err);
        } else if (starts_with(line, "velocity:")) {
            read_velocity(sprite, line, number, err);
        } else if (starts_with(line, "sprite end")) {
            return;
        } else if (!is_blank_or_comment(line)) {
            report_command(err, number, line);
        }
    }
}

// The sequence while it is read: entries in file order, and for every sprite
// number the positions of its entries, so that a smaller sprite count drops
// exactly the entries it must without walking the whole sequence again.
class sequence_reader_t {
public:
    void append(uint32_t entry)
    {
        if (entry >= positions.size()) positions.resize(entry + 1);
        positions[entry].push_back(static_cast<uint32_t>(entries.size()));
        entries.push_back(entry);
    }

    // Drops the entries not below count, reporting them in sequence order.
    void drop_from(uint32_t count, uint64_t line_number, std::ostream& err)
    {
        if (count >= positions.size()) return;
        std::vector<uint32_t> dropped;
        for (size_t sprite = count; sprite < positions.size(); ++sprite)
            dropped.insert(dropped.end(), positions[sprite].begin(), positions[sprite].end());
        positions.resize(count);
        std::sort(dropped.begin(), dropped.end());
        for (uint32_t at : dropped) {
            report(err, line_number, ": illegal sprite number, skip: ", entries[at]);
            entries[at] = gone;
        }
    }

    std::list<uint32_t> sequence() const
    {
        std::list<uint32_t> out;
        for (uint32_t entry : entries)
            if (entry != gone) out.push_back(entry);
        return out;
    }

private:
    // No sprite has this number: the file's sprite count is far below it.
    static constexpr uint32_t gone = 0xFFFFFFFFu;
    std::vector<uint32_t> entries;
    std::vector<std::vector<uint32_t>> positions;
};

// Positions are 32 bits wide: a text of this size holds fewer entries.
static_assert(max_file_bytes < 0xFFFFFFFFu && max_file_sprites < 0xFFFFFFFFu);

void read_sequence(const Song& song, sequence_reader_t& sequence, line_t line, uint64_t line_number,
                   std::ostream& err)
{
    const char* colon = line.data() + line.find(':');
    for_each_next_number(colon, line, [&](uint32_t entry) {
        if (entry < song.sprites.size())
            sequence.append(entry);
        else
            report(err, line_number, ": illegal sprite number, skip: ", entry);
    });
}

// A number that fits [least, most] or is reported and left out.
bool read_in_range(line_t line, uint32_t least, uint32_t most, uint32_t& value, uint64_t line_number,
                   const char* message, std::ostream& err)
{
    uint32_t number = first_number(line).value;
    if (number < least || number > most) {
        report(err, line_number, message, number);
        return false;
    }
    value = number;
    return true;
}

// The lines of the song's own settings; false when the line is none of them.
bool read_setting(Song& song, line_t line, uint64_t number, std::ostream& err)
{
    uint32_t value = 0;
    if (starts_with(line, "swing:")) {
        if (read_in_range(line, min_swing, max_swing, value, number, ": illegal swing: ", err))
            song.swing = static_cast<uint8_t>(value);
    } else if (starts_with(line, "channel:")) {
        if (read_in_range(line, min_channel, max_channel, value, number, ": illegal channel: ", err))
            song.channel = static_cast<uint8_t>(value);
    } else if (starts_with(line, "mute:")) {
        add_notes(song.mute, line.data() + line.find(':'), line, number, err);
    } else if (starts_with(line, "solo:")) {
        add_notes(song.solo, line.data() + line.find(':'), line, number, err);
    } else if (starts_with(line, "clock:")) {
        if (read_in_range(line, 0, 1, value, number, ": illegal clock: ", err))
            song.clock = value == 1;
    } else {
        return false;
    }
    return true;
}

void read_song(Song& song, std::string_view text, std::ostream& err)
{
    // Sprites are made anew, so a second song never inherits the first one's.
    song.sprites.clear();
    song.sequence.clear();
    // A setting the file leaves out is at its default: the writer omits those.
    song.swing = min_swing;
    song.channel = default_channel;
    song.mute.reset();
    song.solo.reset();
    song.clock = false;
    sequence_reader_t sequence;
    text_lines_t lines(text);
    uint64_t line_counter = 0;
    line_t line;
    while (lines.next(line)) {
        uint64_t number = ++line_counter;
        if (starts_with(line, "bpm:")) {
            song.bpm = first_number(line).value;
        } else if (starts_with(line, "sprites:")) {
            uint32_t count = first_number(line).value;
            if (count > max_file_sprites) {
                report(err, number, ": illegal sprite count: ", count);
                continue;
            }
            if (count < song.sprites.size())
                song.sprites.resize(count, Sprite(&song, 0));
            while (song.sprites.size() < count)
                song.sprites.emplace_back(&song, 0);
            // Entries read before a smaller count would name missing sprites.
            sequence.drop_from(count, number, err);
            for (Sprite& sprite : song.sprites)
                read_block(sprite, lines, line_counter, err);
        } else if (starts_with(line, "sequence:")) {
            read_sequence(song, sequence, line, number, err);
        } else if (!read_setting(song, line, number, err) && !is_blank_or_comment(line)) {
            report_command(err, number, line);
        }
    }
    song.sequence = sequence.sequence();
}

// Whole stream into memory, one bulk read at a time, but never more than one
// byte past the largest song file: a device or pipe that never ends is
// refused instead of filling the memory. False when it was refused.
bool read_all(std::istream& in, std::vector<char>& text)
{
    constexpr size_t chunk = 1 << 16;
    constexpr size_t most = max_file_bytes + 1;
    while (in && text.size() < most) {
        size_t want = std::min(chunk, most - text.size());
        // Grown by hand, since a vector's own growth would overshoot the limit.
        if (text.capacity() < text.size() + want)
            text.reserve(std::min(most, std::max(2 * text.capacity(), text.size() + want)));
        size_t old_size = text.size();
        text.resize(old_size + want);
        in.read(text.data() + old_size, static_cast<std::streamsize>(want));
        text.resize(old_size + static_cast<size_t>(in.gcount()));
    }
    return text.size() <= max_file_bytes;
}

}  // namespace

bool Sprite::read(std::istream& in, uint64_t& line_counter, std::ostream& err)
{
    if (!in) return true;
    stream_lines_t lines(in);
    read_block(*this, lines, line_counter, err);
    return true;
}

bool Song::read(std::istream& in, std::ostream& err)
{
    std::vector<char> text;
    if (!read_all(in, text)) {
        err << file_too_big_message << '\n' << std::flush;
        return false;
    }
    read_song(*this, {text.data(), text.size()}, err);
    return true;
}

bool Song::read(const std::string& path, std::ostream& err)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::vector<char> text;
    if (!read_all(file, text)) {
        err << path << ": " << file_too_big_message << '\n' << std::flush;
        return false;
    }
    if (file.bad()) return false;
    read_song(*this, {text.data(), text.size()}, err);
    return true;
}
