// The editor of one sprite: its beat count and, per beat, which drum notes
// sound. Non-modal; hidden rather than destroyed when closed.
#pragma once

#include "document.h"
#include "note_grid.h"

#include <gtkmm/box.h>
#include <gtkmm/colorbutton.h>
#include <gtkmm/togglebutton.h>
#include <gtkmm/dialog.h>
#include <gtkmm/grid.h>
#include <gtkmm/label.h>
#include <gtkmm/spinbutton.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace stepmill {

struct DrumNote {
    uint8_t note;
    const char* name;
};

// The grid's rows, top to bottom; not sorted by note number.
extern const DrumNote drum_note_table[34];
constexpr uint64_t drum_note_count = 34;

// The play/stop button's response; Apply and Close use the toolkit's.
constexpr int response_play_stop = 0;

// Edits its sprite through the document and shows it as the document
// changes it (undo and redo included).
class SpriteWindow : public Gtk::Dialog {
public:
    SpriteWindow(uint64_t index, Document& document, const Glib::ustring& title, Gtk::Window& parent);
    ~SpriteWindow() override;

    // The play/stop button: the window plays this sprite or stops.
    sigc::signal<void, uint64_t>& signal_play_stop() { return play_stop; }
    // A note switched on, to be heard at once.
    sigc::signal<void, uint8_t>& signal_preview() { return preview; }
    // The beat of this sprite that sounds now (NoteGrid::none: none).
    void show_step(uint64_t beat);
    // Hidden and deaf to the document: the editor of a song that was,
    // waiting to be destroyed.
    void retire();

protected:
    void on_response(int response_id) override;
    // The window manager's close hides the editor instead of destroying it.
    bool on_delete_event(GdkEventAny* event) override;

private:
    // A drum's row: its name, and its mute and solo (song-wide).
    struct DrumRow {
        explicit DrumRow(const DrumNote& drum);
        Gtk::Label label;
        Gtk::Box switches;
        Gtk::ToggleButton mute, solo;
    };

    void on_note_toggled(uint64_t row, uint64_t beat);
    void on_document_changed(const DocumentChange& change);
    void on_color_set();
    void build_grid();
    void show_note(uint64_t row, uint64_t beat);
    void show_mute_and_solo();
    void show_color();

    uint64_t index;
    Document& document;
    Gtk::Label beats_label;
    Gtk::SpinButton beats_spin;
    Gtk::ColorButton color_button;
    Gtk::Box beats_box;
    Gtk::Grid grid;
    std::vector<std::unique_ptr<DrumRow>> rows;
    NoteGrid note_grid;   // every row's boxes, beside the labels
    sigc::connection document_connection;
    sigc::signal<void, uint64_t> play_stop;
    sigc::signal<void, uint8_t> preview;
};

// "クローズド・ハイハット 3": the instrument and the beat, counted from 1 as
// a user counts them. Assistive technology finds the grid's boxes by it.
Glib::ustring note_button_name(uint64_t row, uint64_t beat);

}  // namespace stepmill
