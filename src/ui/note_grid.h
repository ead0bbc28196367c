// The check boxes of a sprite editor: one per row and beat, painted by one
// widget in the theme's own check box look, instead of one Gtk::CheckButton
// each. A 16-beat sprite has 544 of them: as real buttons they take about
// 50 ms to build, map and draw, long enough to delay a playing beat.
//
// To the user they are check boxes as before: the mouse and the space bar
// toggle them, the keyboard focus moves from box to box with the arrows and
// Tab, and assistive technology sees one check box per step, named for the
// instrument and the beat, with its state and a click action.
#pragma once

#include <atk/atk.h>
#include <cairomm/surface.h>
#include <gdkmm/rectangle.h>
#include <glibmm/ustring.h>
#include <gtkmm/drawingarea.h>
#include <sigc++/signal.h>

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace stepmill {

class NoteGrid : public Gtk::DrawingArea {
public:
    // The accessible name of the box in row r, beat b.
    using namer_t = std::function<Glib::ustring(uint64_t row, uint64_t beat)>;
    static constexpr uint64_t none = UINT64_MAX;

    NoteGrid(uint64_t rows, namer_t namer);
    ~NoteGrid() override;

    // Makes the grid `beats` wide; every box off, the focus on the first.
    void set_beats(uint64_t beats);
    uint64_t row_count() const { return rows; }
    uint64_t beat_count() const { return beats; }

    bool get_active(uint64_t row, uint64_t beat) const;
    // Sets a box without the toggled signal, as building a grid does.
    void set_active_quietly(uint64_t row, uint64_t beat, bool active);
    // Toggles a box as a click does; the toggled signal follows.
    void toggle(uint64_t row, uint64_t beat);
    sigc::signal<void, uint64_t, uint64_t>& signal_toggled() { return toggled; }

    // A box's velocity (1 to 127), shown at a glance in three levels: accent,
    // normal and ghost notes. The user steps an active box's velocity with a
    // Control-click (round the levels), the scroll wheel and the + and - keys.
    uint8_t velocity(uint64_t row, uint64_t beat) const;
    void set_velocity_quietly(uint64_t row, uint64_t beat, uint8_t velocity);
    sigc::signal<void, uint64_t, uint64_t, uint8_t>& signal_velocity_changed() { return velocity_changed; }

    // The beat that sounds now, shown as a lit column; none: no column.
    void set_playing_beat(uint64_t beat);
    uint64_t playing_beat() const { return playing; }

    // Puts the keyboard focus on a box (and on this widget).
    void focus_box(uint64_t row, uint64_t beat);
    // Whether this box is its window's focus (as Gtk::Widget::is_focus), and
    // whether it has the keyboard's focus besides (the window is active).
    bool box_is_focus(uint64_t row, uint64_t beat) const;
    bool box_has_focus(uint64_t row, uint64_t beat) const;

    // A box's cell, in this widget's coordinates, and the box at a point.
    Gdk::Rectangle box_area(uint64_t row, uint64_t beat) const;
    bool box_at(double x, double y, uint64_t& row, uint64_t& beat) const;

    Glib::ustring box_name(uint64_t row, uint64_t beat) const { return namer(row, beat); }
    // The box's accessible object (the grid keeps it; no reference is given).
    AtkObject* box_accessible(uint64_t row, uint64_t beat);
    // For the grid's accessible object: the box at a child index, referenced.
    AtkObject* ref_box_accessible(uint64_t index);

protected:
    Gtk::SizeRequestMode get_request_mode_vfunc() const override;
    void get_preferred_width_vfunc(int& minimum, int& natural) const override;
    void get_preferred_height_vfunc(int& minimum, int& natural) const override;
    void get_preferred_width_for_height_vfunc(int height, int& minimum, int& natural) const override;
    void get_preferred_height_for_width_vfunc(int width, int& minimum, int& natural) const override;
    bool on_draw(const Cairo::RefPtr<Cairo::Context>& cr) override;
    void on_style_updated() override;
    bool on_button_press_event(GdkEventButton* event) override;
    bool on_button_release_event(GdkEventButton* event) override;
    bool on_motion_notify_event(GdkEventMotion* event) override;
    bool on_leave_notify_event(GdkEventCrossing* event) override;
    bool on_key_press_event(GdkEventKey* event) override;
    bool on_scroll_event(GdkEventScroll* event) override;
    bool on_focus(Gtk::DirectionType direction) override;
    bool on_focus_in_event(GdkEventFocus* event) override;
    bool on_focus_out_event(GdkEventFocus* event) override;

private:
    struct look_t {   // the theme's check box, measured once per style
        int cell_width = 0, cell_height = 0;   // one button's size
        int box_x = 0;                         // the box's left edge in its cell
        int box_width = 0, box_height = 0;     // its border box
        GtkBorder button_margin{};             // around the button in its cell
    };

    uint64_t index(uint64_t row, uint64_t beat) const { return row * beats + beat; }
    bool valid(uint64_t i) const { return i < rows * beats; }
    const look_t& look() const;
    void forget_look();
    // Row r's (column b's) span of the allocation: equal shares, the first
    // ones a pixel longer where it does not divide, as a homogeneous grid
    // gives its lines, so the rows meet the labels beside them.
    static void share(int total, uint64_t parts, uint64_t k, int& start, int& length);
    void redraw(uint64_t i);
    void set_hover(uint64_t i);
    void move_focus(uint64_t i);
    void notify_state(uint64_t i, AtkStateType state, bool value);
    void forget_accessibles();
    Gtk::StateFlags box_state(uint64_t i) const;
    void paint_box(const Cairo::RefPtr<Cairo::Context>& cr, int x, int y, Gtk::StateFlags state, double alpha = 1.0);
    // One level up or down (or round, from the top down) for an active box.
    void step_velocity(uint64_t i, int direction, bool round);
    void redraw_column(uint64_t beat);
    Glib::ustring accessible_name(uint64_t i) const;

    uint64_t rows;
    uint64_t beats = 0;
    namer_t namer;
    std::vector<bool> active;
    std::vector<uint8_t> level;   // the velocity of each box
    uint64_t playing = none;      // the beat that sounds
    uint64_t focus = 0;           // the box the focus is on while the widget has it
    uint64_t hover = none;        // under the pointer
    uint64_t pressed = none;      // where the first button went down
    sigc::signal<void, uint64_t, uint64_t> toggled;
    sigc::signal<void, uint64_t, uint64_t, uint8_t> velocity_changed;
    std::vector<AtkObject*> accessibles;   // made when assistive technology asks

    mutable look_t measured;
    mutable bool measured_valid = false;
    GtkStyleContext* button_style = nullptr;   // "checkbutton", and its "check"
    GtkStyleContext* check_style = nullptr;
    std::map<int, Cairo::RefPtr<Cairo::Surface>> painted;   // a box per state
};

// One box of the grid as the editor's rows hold it: what a check button of
// the grid was, without being a widget.
class NoteCell {
public:
    NoteCell(NoteGrid& grid, uint64_t row, uint64_t beat) : grid(grid), row(row), beat(beat) {}

    bool get_active() const { return grid.get_active(row, beat); }
    void clicked() { grid.toggle(row, beat); }
    bool is_focus() const { return grid.box_is_focus(row, beat); }
    void grab_focus() { grid.focus_box(row, beat); }
    AtkObject* accessible() { return grid.box_accessible(row, beat); }
    Gdk::Rectangle area() const { return grid.box_area(row, beat); }

private:
    NoteGrid& grid;
    uint64_t row, beat;
};

}  // namespace stepmill
