// The document's commands and their undo history. A step keeps only what its
// command changed, never a copy of the song, so that a long session's history
// stays small.
#include "document.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <memory>
#include <variant>

namespace {

using Kind = DocumentChange::Kind;

// Sprite and beat numbers fit 32 bits: a song has at most max_file_sprites
// sprites of at most max_file_beats beats.
struct NoteStep {
    uint32_t sprite;
    uint32_t beat;
    uint8_t note;
    bool on;
    uint8_t velocity;   // switching off: the note's velocity, for undo
};

struct VelocityStep {
    uint32_t sprite;
    uint32_t beat;
    uint8_t note;
    uint8_t from;
    uint8_t to;
};

// A velocity below full that a shortening dropped.
struct DroppedVelocity {
    uint32_t beat;
    NoteVelocity velocity;
};

// What a shortening dropped: the note sets of beats [to, from) and their
// velocities below full.
struct DroppedBeats {
    std::vector<NoteSet> notes;
    std::vector<DroppedVelocity> velocities;
};

struct BeatsStep {
    uint32_t sprite;
    uint32_t from;
    uint32_t to;
    std::unique_ptr<DroppedBeats> dropped;   // only when one of the beats had a note
};

struct ColorStep {
    uint32_t sprite;
    std::array<uint8_t, 3> from;
    std::array<uint8_t, 3> to;
};

// A note's mute or solo switch.
struct NoteSwitchStep {
    Kind kind;   // mute or solo
    uint8_t note;
    bool on;
};

struct EntryStep {
    uint64_t position;
    uint32_t sprite;
    bool inserted;   // false: the step erased the entry
};

// A song-wide number: tempo, swing, channel or clock.
struct SettingStep {
    Kind kind;
    uint64_t from;
    uint64_t to;
};

std::list<uint32_t>::iterator entry_at(std::list<uint32_t>& sequence, uint64_t position)
{
    // From the nearer end: a list is walked, and edits near the end are common.
    if (position <= sequence.size() / 2)
        return std::next(sequence.begin(), static_cast<std::ptrdiff_t>(position));
    return std::prev(sequence.end(), static_cast<std::ptrdiff_t>(sequence.size() - position));
}

DocumentChange apply_step(Song& song, const NoteStep& step, bool forward)
{
    Sprite& sprite = song.sprites[step.sprite];
    sprite.set_note(step.beat, step.note, step.on == forward);
    if (!step.on && !forward)
        sprite.set_velocity(step.beat, step.note, step.velocity);
    return {Kind::note, step.sprite, step.beat, step.note};
}

DocumentChange apply_step(Song& song, const VelocityStep& step, bool forward)
{
    song.sprites[step.sprite].set_velocity(step.beat, step.note, forward ? step.to : step.from);
    return {Kind::velocity, step.sprite, step.beat, step.note};
}

DocumentChange apply_step(Song& song, const BeatsStep& step, bool forward)
{
    Sprite& sprite = song.sprites[step.sprite];
    sprite.set_beats(forward ? step.to : step.from);
    if (!forward && step.dropped) {
        std::copy(step.dropped->notes.begin(), step.dropped->notes.end(), sprite.notes.begin() + step.to);
        for (const DroppedVelocity& dropped : step.dropped->velocities)
            sprite.set_velocity(dropped.beat, dropped.velocity.note, dropped.velocity.velocity);
    }
    return {Kind::beats, step.sprite};
}

DocumentChange apply_step(Song& song, const ColorStep& step, bool forward)
{
    song.sprites[step.sprite].color = forward ? step.to : step.from;
    return {Kind::color, step.sprite};
}

DocumentChange apply_step(Song& song, const NoteSwitchStep& step, bool forward)
{
    NoteSet& set = step.kind == Kind::mute ? song.mute : song.solo;
    set.set(step.note, step.on == forward);
    return {step.kind, 0, 0, step.note};
}

DocumentChange apply_step(Song& song, const EntryStep& step, bool forward)
{
    auto at = entry_at(song.sequence, step.position);
    bool insert = step.inserted == forward;
    if (insert)
        song.sequence.insert(at, step.sprite);
    else
        song.sequence.erase(at);
    return {insert ? Kind::entry_inserted : Kind::entry_erased, step.sprite, 0, 0, step.position};
}

DocumentChange apply_step(Song& song, const SettingStep& step, bool forward)
{
    uint64_t value = forward ? step.to : step.from;
    switch (step.kind) {
    case Kind::tempo:
        song.bpm = value;
        break;
    case Kind::swing:
        song.swing = static_cast<uint8_t>(value);
        break;
    case Kind::channel:
        song.channel = static_cast<uint8_t>(value);
        break;
    case Kind::clock:
        song.clock = value != 0;
        break;
    default:
        break;
    }
    return {step.kind};
}

}  // namespace

struct Document::Step {
    std::variant<NoteStep, VelocityStep, BeatsStep, ColorStep, EntryStep, NoteSwitchStep, SettingStep> what;
};

bool operator==(const DocumentChange& a, const DocumentChange& b)
{
    return a.kind == b.kind && a.sprite == b.sprite && a.beat == b.beat && a.note == b.note &&
           a.position == b.position;
}

bool load_song(Song& song, const std::string& path, std::ostream& messages)
{
    // Read into a new song, so that nothing of the old one (a tempo the file
    // does not set) survives, and a refused file leaves the old one whole.
    Song loaded;
    if (!loaded.read(path, messages))
        return false;
    loaded.bpm = std::clamp(loaded.bpm, min_bpm, max_bpm);
    song.swap(loaded);
    return true;
}

Document::Document()
{
    current.reset_sprites(new_song_sprites);
}

Document::~Document() = default;

bool Document::can_redo() const
{
    return done < steps.size();
}

DocumentChange Document::apply(const Step& step, bool forward)
{
    return std::visit([&](const auto& what) { return apply_step(current, what, forward); }, step.what);
}

void Document::push(Step step)
{
    // A new step ends the redo branch; a save point on it can never come back.
    steps.erase(steps.begin() + static_cast<std::ptrdiff_t>(done), steps.end());
    if (saved_at > done)
        saved_at = never;
    steps.push_back(std::move(step));
    DocumentChange change = apply(steps.back(), true);
    ++done;
    dirty = true;
    changed.emit(change);
}

bool Document::set_note(uint64_t sprite, uint64_t beat, uint8_t note, bool on)
{
    if (sprite >= current.sprites.size() || beat >= current.sprites[sprite].beats || note >= 128)
        return false;
    const Sprite& target = current.sprites[sprite];
    if (target.notes[beat].test(note) == on)
        return false;
    push({NoteStep{static_cast<uint32_t>(sprite), static_cast<uint32_t>(beat), note, on,
                   on ? full_velocity : target.velocity(beat, note)}});
    return true;
}

bool Document::set_velocity(uint64_t sprite, uint64_t beat, uint8_t note, uint8_t velocity)
{
    if (sprite >= current.sprites.size() || beat >= current.sprites[sprite].beats || note >= 128 ||
        velocity < min_velocity || velocity > full_velocity)
        return false;
    const Sprite& target = current.sprites[sprite];
    if (!target.notes[beat].test(note) || target.velocity(beat, note) == velocity)
        return false;
    push({VelocityStep{static_cast<uint32_t>(sprite), static_cast<uint32_t>(beat), note,
                       target.velocity(beat, note), velocity}});
    return true;
}

bool Document::set_beats(uint64_t sprite, uint64_t beats)
{
    if (sprite >= current.sprites.size() || beats > max_file_beats)
        return false;
    const Sprite& target = current.sprites[sprite];
    if (beats == target.beats)
        return false;
    BeatsStep step{static_cast<uint32_t>(sprite), static_cast<uint32_t>(target.beats),
                   static_cast<uint32_t>(beats), nullptr};
    if (beats < target.beats) {
        auto first = target.notes.begin() + static_cast<std::ptrdiff_t>(beats);
        if (std::any_of(first, target.notes.end(), [](const NoteSet& set) { return set.any(); })) {
            step.dropped = std::make_unique<DroppedBeats>();
            step.dropped->notes.assign(first, target.notes.end());
            for (uint64_t beat = beats; beat < target.beats; ++beat)
                for (const NoteVelocity& velocity : target.velocities[beat])
                    step.dropped->velocities.push_back({static_cast<uint32_t>(beat), velocity});
            step.dropped->velocities.shrink_to_fit();
        }
    }
    push({std::move(step)});
    return true;
}

bool Document::set_color(uint64_t sprite, uint8_t red, uint8_t green, uint8_t blue)
{
    if (sprite >= current.sprites.size())
        return false;
    std::array<uint8_t, 3> color{red, green, blue};
    if (current.sprites[sprite].color == color)
        return false;
    push({ColorStep{static_cast<uint32_t>(sprite), current.sprites[sprite].color, color}});
    return true;
}

bool Document::insert_entry(uint64_t position, uint32_t sprite)
{
    if (position > current.sequence.size() || sprite >= current.sprites.size())
        return false;
    push({EntryStep{position, sprite, true}});
    return true;
}

bool Document::erase_entry(uint64_t position)
{
    if (position >= current.sequence.size())
        return false;
    push({EntryStep{position, *entry_at(current.sequence, position), false}});
    return true;
}

void Document::push_setting(Kind kind, uint64_t from, uint64_t to, bool merge)
{
    // A saved step stays as it was saved, or the file would no longer match it.
    if (merge && done > 0 && done == steps.size() && saved_at != done) {
        auto* last = std::get_if<SettingStep>(&steps.back().what);
        if (last && last->kind == kind) {
            last->to = to;
            changed.emit(apply(steps.back(), true));
            return;
        }
    }
    push({SettingStep{kind, from, to}});
}

bool Document::set_tempo(uint64_t bpm, bool merge)
{
    if (bpm < min_bpm || bpm > max_bpm || bpm == current.bpm)
        return false;
    push_setting(Kind::tempo, current.bpm, bpm, merge);
    return true;
}

bool Document::set_swing(uint64_t percent, bool merge)
{
    if (percent < min_swing || percent > max_swing || percent == current.swing)
        return false;
    push_setting(Kind::swing, current.swing, percent, merge);
    return true;
}

bool Document::set_channel(uint64_t channel)
{
    if (channel < min_channel || channel > max_channel || channel == current.channel)
        return false;
    push_setting(Kind::channel, current.channel, channel, false);
    return true;
}

bool Document::set_clock(bool on)
{
    if (on == current.clock)
        return false;
    push_setting(Kind::clock, current.clock, on, false);
    return true;
}

bool Document::switch_note(Kind kind, uint8_t note, bool on)
{
    const NoteSet& set = kind == Kind::mute ? current.mute : current.solo;
    if (note >= 128 || set.test(note) == on)
        return false;
    push({NoteSwitchStep{kind, note, on}});
    return true;
}

bool Document::set_mute(uint8_t note, bool on)
{
    return switch_note(Kind::mute, note, on);
}

bool Document::set_solo(uint8_t note, bool on)
{
    return switch_note(Kind::solo, note, on);
}

bool Document::undo()
{
    if (done == 0)
        return false;
    --done;
    dirty = true;
    changed.emit(apply(steps[done], false));
    return true;
}

bool Document::redo()
{
    if (done == steps.size())
        return false;
    ++done;
    dirty = true;
    changed.emit(apply(steps[done - 1], true));
    return true;
}

bool Document::open(const std::string& path, std::ostream& messages)
{
    if (!load_song(current, path, messages))
        return false;
    file_path = path;
    steps.clear();
    done = 0;
    saved_at = 0;
    dirty = false;
    changed.emit({Kind::whole_song});
    return true;
}

bool Document::restore(const std::string& recovery, const std::string& path, std::ostream& messages)
{
    if (!load_song(current, recovery, messages))
        return false;
    file_path = path;
    steps.clear();
    done = 0;
    saved_at = never;
    dirty = true;
    changed.emit({Kind::whole_song});
    return true;
}

bool Document::save(const std::string& path, std::string& error)
{
    if (!current.write(path, error))
        return false;
    file_path = path;
    saved_at = done;
    dirty = false;
    changed.emit({Kind::saved});
    return true;
}

bool Document::write_copy(const std::string& path, std::string& error) const
{
    return current.write(path, error);
}

size_t Document::history_bytes() const
{
    size_t bytes = steps.capacity() * sizeof(Step);
    for (const Step& step : steps)
        if (auto* beats = std::get_if<BeatsStep>(&step.what); beats && beats->dropped)
            bytes += sizeof(DroppedBeats) + beats->dropped->notes.capacity() * sizeof(NoteSet) +
                     beats->dropped->velocities.capacity() * sizeof(DroppedVelocity);
    return bytes;
}
