// The editor of one sprite: its beat count and, per beat, which drum notes
// sound. Non-modal; hidden rather than destroyed when closed.
#pragma once

#include "note_grid.h"
#include "song.h"

#include <gtkmm/box.h>
#include <gtkmm/dialog.h>
#include <gtkmm/grid.h>
#include <gtkmm/label.h>
#include <gtkmm/spinbutton.h>

#include <cstdint>
#include <vector>

namespace stepmill {

class MainWindow;

struct DrumNote {
    uint8_t note;
    const char* name;
};

// The grid's rows, top to bottom; not sorted by note number.
extern const DrumNote drum_note_table[34];
constexpr uint64_t drum_note_count = 34;

// The play/stop button's response; Apply and Close use the toolkit's.
constexpr int response_play_stop = 0;

class SpriteWindow : public Gtk::Dialog {
public:
    // A row of the grid: the instrument's label, and its boxes in
    // `note_grid` (owned; index = beat).
    struct NoteRow {
        Gtk::Label label;
        std::vector<NoteCell*> buttons;
    };

    SpriteWindow(uint64_t index, Sprite& sprite, const Glib::ustring& title, MainWindow& main_window);
    ~SpriteWindow() override;

    void on_note_toggled(uint64_t row, uint64_t beat);
    void build_grid();
    void clear_grid();

    uint64_t index;
    MainWindow& main_window;
    Sprite* sprite;
    std::vector<NoteRow*> rows;
    Gtk::Label beats_label;
    Gtk::SpinButton beats_spin;
    Gtk::Box beats_box;
    Gtk::Grid grid;
    NoteGrid note_grid;   // every row's boxes, beside the labels

protected:
    void on_realize() override;
    void on_unrealize() override;
    void on_response(int response_id) override;
    // The window manager's close hides the editor instead of destroying it.
    bool on_delete_event(GdkEventAny* event) override;
};

// "クローズド・ハイハット 3": the instrument and the beat, counted from 1 as
// a user counts them. Assistive technology finds the grid's boxes by it.
Glib::ustring note_button_name(uint64_t row, uint64_t beat);

}  // namespace stepmill
