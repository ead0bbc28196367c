// The document: the one owner and writer of the song, with its file path, its
// modified state and its undo history. Every edit is one command that can be
// undone and redone, and every change is announced by one signal, so that
// views and the player follow the song instead of changing it themselves.
#pragma once

#include "song.h"

#include <sigc++/signal.h>

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

// The tempo a song may have in the program; a file's tempo is clamped into it.
constexpr uint64_t min_bpm = 1, max_bpm = 1000;
// A new song: this many silent sprites of the song's default beat count.
constexpr uint64_t new_song_sprites = 36;

// What one change touched, so that a view can update that alone.
struct DocumentChange {
    enum class Kind {
        note, beats, entry_inserted, entry_erased, tempo, whole_song, saved,
        velocity, swing, channel, mute, solo, color, clock
    };
    Kind kind = Kind::whole_song;
    uint64_t sprite = 0;     // note, velocity, beats, color: the sprite edited; entry_*: the entry's sprite
    uint64_t beat = 0;       // note, velocity
    uint8_t note = 0;        // note, velocity, mute, solo
    uint64_t position = 0;   // entry_*: the entry's place in the sequence
};
bool operator==(const DocumentChange& a, const DocumentChange& b);

// Reads a song file as the program opens one, at start-up and by File → Open
// alike: the file's song replaces `song`, its tempo clamped into
// [min_bpm, max_bpm]; the reader's diagnostics go to `messages`. False when the
// file cannot be read; `song` is then unchanged.
bool load_song(Song& song, const std::string& path, std::ostream& messages);

class Document {
public:
    Document();   // a new song, no path, unmodified
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    const Song& song() const { return current; }
    const std::string& path() const { return file_path; }   // empty: never saved or opened
    // Whether anything was done to the song since it was new, opened or
    // saved. Only a save or an open clears it: undoing back to the saved
    // song still leaves a change made and taken back.
    bool modified() const { return dirty; }

    // Commands, each one undo step that emits changed once. Out-of-range
    // arguments, and values the song already has, do nothing and give false.
    // A note switched on plays at full_velocity; undoing its switching off
    // gives its velocity back.
    bool set_note(uint64_t sprite, uint64_t beat, uint8_t note, bool on);
    // Only for a note the beat holds; min_velocity to full_velocity.
    bool set_velocity(uint64_t sprite, uint64_t beat, uint8_t note, uint8_t velocity);
    // 0 to max_file_beats; undoing a shortening brings the dropped notes and
    // their velocities back.
    bool set_beats(uint64_t sprite, uint64_t beats);
    bool set_color(uint64_t sprite, uint8_t red, uint8_t green, uint8_t blue);
    bool insert_entry(uint64_t position, uint32_t sprite);   // position 0 to the sequence's size
    bool erase_entry(uint64_t position);
    // A spin button's drag is one step: with `merge`, while the newest step is
    // a tempo step not undone and not saved, the new value replaces its value.
    bool set_tempo(uint64_t bpm, bool merge = false);
    // min_swing to max_swing; `merge` as for the tempo, with swing steps.
    bool set_swing(uint64_t percent, bool merge = false);
    bool set_channel(uint64_t channel);   // min_channel to max_channel
    bool set_mute(uint8_t note, bool on);
    bool set_solo(uint8_t note, bool on);
    bool set_clock(bool on);

    bool can_undo() const { return done > 0; }
    bool can_redo() const;
    // Each emits the change of the step undone or redone; false when there is none.
    bool undo();
    bool redo();

    // Replaces the song by the file's (see load_song), sets the path, clears
    // modified and the history and emits a whole_song change. False when the
    // file cannot be read: then nothing changes.
    bool open(const std::string& path, std::ostream& messages);
    // The same for a recovery file of the song at `path` (empty: a song never
    // saved): the song is the recovered one, still to be saved there.
    bool restore(const std::string& recovery, const std::string& path, std::ostream& messages);
    // Writes the song to `path` atomically; on success sets the path, clears
    // modified and emits a saved change. On failure `error` holds the system's
    // reason and nothing changes.
    bool save(const std::string& path, std::string& error);
    // Writes the song to `path` and leaves path and modified as they are
    // (autosave, recovery files).
    bool write_copy(const std::string& path, std::string& error) const;

    sigc::signal<void, const DocumentChange&>& signal_changed() { return changed; }

    // Heap memory held by the undo history.
    size_t history_bytes() const;

private:
    struct Step;
    void push(Step step);
    DocumentChange apply(const Step& step, bool forward);
    // A song-wide number (tempo, swing, channel, clock) from its current
    // value to `to`, merged into the newest step as set_tempo describes.
    void push_setting(DocumentChange::Kind kind, uint64_t from, uint64_t to, bool merge);
    bool switch_note(DocumentChange::Kind kind, uint8_t note, bool on);   // mute or solo

    static constexpr size_t never = static_cast<size_t>(-1);

    Song current;
    std::string file_path;
    std::vector<Step> steps;   // [0, done) are done, the rest can be redone
    size_t done = 0;
    size_t saved_at = 0;       // `done` when the song was last new, opened or saved; `never` once that is lost
    bool dirty = false;
    sigc::signal<void, const DocumentChange&> changed;
};
