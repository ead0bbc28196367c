#include "smf_writer.h"

#include "file_replace.h"

namespace {

constexpr uint32_t ticks_per_quarter = 480;
constexpr uint32_t ticks_per_sprite = 1920;
constexpr uint64_t max_delta = 0x0FFFFFFF;   // what four var-len bytes hold

void put_be(std::string& out, uint32_t value, int bytes)
{
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xFF);
}

void put_var_len(std::string& out, uint32_t value)
{
    bool started = false;
    for (int shift = 21; shift > 0; shift -= 7) {
        uint32_t group = (value >> shift) & 0x7F;
        if (group || started) {
            out += static_cast<char>(group | 0x80);
            started = true;
        }
    }
    out += static_cast<char>(value & 0x7F);
}

// Writes the note events of one beat at `time`, after the previous event at
// `last`: note-ons at their velocities, or, without `velocities`, note-offs.
bool put_notes(std::string& out, const NoteSet& notes, const BeatVelocities* velocities, uint64_t time,
               uint64_t& last, char status)
{
    // Both walk up the notes, so the next softer note is always at `soft`.
    auto soft = velocities ? velocities->begin() : BeatVelocities::const_iterator();
    for (size_t n = notes._Find_first(); n < notes.size(); n = notes._Find_next(n)) {
        if (time - last > max_delta) return false;
        uint8_t velocity = 0;
        if (velocities) {
            while (soft != velocities->end() && soft->note < n) ++soft;
            velocity = soft != velocities->end() && soft->note == n ? soft->velocity : full_velocity;
        }
        put_var_len(out, static_cast<uint32_t>(time - last));
        out += status;
        out += static_cast<char>(n);
        out += static_cast<char>(velocity);
        last = time;
    }
    return true;
}

}  // namespace

void write_var_len(std::ostream& stream, uint32_t value)
{
    std::string bytes;
    put_var_len(bytes, value);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool smf_bytes(std::string& out, const Song& song)
{
    if (song.bpm == 0) return false;
    uint64_t end = uint64_t(song.sequence.size()) * ticks_per_sprite;
    if (end > 0xFFFFFFFFu) return false;

    out.assign("MThd", 4);
    put_be(out, 6, 4);
    put_be(out, 0, 2);
    put_be(out, 1, 2);
    put_be(out, ticks_per_quarter, 2);
    out.append("MTrk", 4);
    size_t length_at = out.size();
    put_be(out, 0, 4);
    size_t track_start = out.size();

    // Slower than the three-byte field can say: the slowest it can.
    uint64_t tempo = 60000000u / song.bpm;
    if (tempo > 0xFFFFFF) tempo = 0xFFFFFF;
    out += '\0';
    out.append("\xFF\x51\x03", 3);
    put_be(out, static_cast<uint32_t>(tempo), 3);

    const char status = static_cast<char>(0x90 | ((song.channel - 1) & 0x0F));
    const NoteSet audible = song.audible();
    uint64_t last = 0;
    uint64_t base = 0;
    for (uint32_t entry : song.sequence) {
        if (entry < song.sprites.size()) {
            const Sprite& sprite = song.sprites[entry];
            const uint64_t beats = sprite.notes.size();
            for (uint64_t j = 0; j < beats; ++j) {
                uint64_t on = base + song.beat_start(beats, j, ticks_per_sprite);
                uint64_t off = base + song.beat_start(beats, j + 1, ticks_per_sprite);
                NoteSet notes = sprite.notes[j] & audible;
                if (!put_notes(out, notes, &sprite.velocities[j], on, last, status) ||
                    !put_notes(out, notes, nullptr, off, last, status))
                    return false;
            }
        }
        base += ticks_per_sprite;
    }
    if (end - last > max_delta) return false;
    put_var_len(out, static_cast<uint32_t>(end - last));
    out.append("\xFF\x2F\x00", 3);

    uint64_t length = out.size() - track_start;
    if (length > 0xFFFFFFFFu) return false;
    std::string field;
    put_be(field, static_cast<uint32_t>(length), 4);
    out.replace(length_at, 4, field);
    return true;
}

bool write_smf(const std::string& path, const Song& song, std::string& error)
{
    std::string bytes;
    if (!smf_bytes(bytes, song)) {
        error = "the song does not fit a MIDI file (no tempo, or too long)";
        return false;
    }
    return replace_file_contents(path, bytes, error);
}

bool write_smf(const std::string& path, const Song& song)
{
    std::string error;
    return write_smf(path, song, error);
}
