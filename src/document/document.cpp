// The document's commands and their undo history. A step keeps only what its
// command changed, never a copy of the song, so that a long session's history
// stays small.
#include "document.h"

#include <algorithm>
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
};

struct BeatsStep {
    uint32_t sprite;
    uint32_t from;
    uint32_t to;
    // The note sets of beats [to, from) that a shortening dropped, kept only
    // when one of them had a note.
    std::unique_ptr<NoteSet[]> dropped;
};

struct EntryStep {
    uint64_t position;
    uint32_t sprite;
    bool inserted;   // false: the step erased the entry
};

struct TempoStep {
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
    song.sprites[step.sprite].notes[step.beat].set(step.note, step.on == forward);
    return {Kind::note, step.sprite, step.beat, step.note};
}

DocumentChange apply_step(Song& song, const BeatsStep& step, bool forward)
{
    Sprite& sprite = song.sprites[step.sprite];
    sprite.set_beats(forward ? step.to : step.from);
    if (!forward && step.dropped)
        std::copy_n(step.dropped.get(), step.from - step.to, sprite.notes.begin() + step.to);
    return {Kind::beats, step.sprite};
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

DocumentChange apply_step(Song& song, const TempoStep& step, bool forward)
{
    song.bpm = forward ? step.to : step.from;
    return {Kind::tempo};
}

}  // namespace

struct Document::Step {
    std::variant<NoteStep, BeatsStep, EntryStep, TempoStep> what;
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
    if (current.sprites[sprite].notes[beat].test(note) == on)
        return false;
    push({NoteStep{static_cast<uint32_t>(sprite), static_cast<uint32_t>(beat), note, on}});
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
            step.dropped = std::make_unique<NoteSet[]>(target.beats - beats);
            std::copy(first, target.notes.end(), step.dropped.get());
        }
    }
    push({std::move(step)});
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

bool Document::set_tempo(uint64_t bpm, bool merge)
{
    if (bpm < min_bpm || bpm > max_bpm || bpm == current.bpm)
        return false;
    // A saved step stays as it was saved, or the file would no longer match it.
    if (merge && done > 0 && done == steps.size() && saved_at != done) {
        if (auto* last = std::get_if<TempoStep>(&steps.back().what)) {
            last->to = bpm;
            changed.emit(apply(steps.back(), true));
            return true;
        }
    }
    push({TempoStep{current.bpm, bpm}});
    return true;
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
            bytes += (beats->from - beats->to) * sizeof(NoteSet);
    return bytes;
}
