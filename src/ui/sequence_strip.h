// The sequence strip: one column per sequence entry and the cursor bar. It
// owns its columns and its cursor, takes the strip's keys, and asks for
// entries to be inserted and erased; the document's changes come back to it
// as columns to add and remove.
//
// A container of its own rather than a box: a box keeps its children's style
// nodes in order, so an entry made at the start of a long sequence restyled
// every column after it (14 ms for 2,000 columns, against 1.5 ms here). The
// strip lays its children out left to right in sequence order, the bar at the
// cursor, and gives them in that order to whoever walks them.
#pragma once

#include "sequence_widget.h"
#include "song.h"

#include <gdk/gdk.h>
#include <gtkmm/adjustment.h>
#include <gtkmm/container.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace stepmill {

class SequenceStrip : public Gtk::Container {
public:
    // The columns' rows fall on the rows of `row_source` (the sprite buttons).
    explicit SequenceStrip(const Gtk::Widget& row_source);
    ~SequenceStrip() override;

    // Every column anew, for a song of that many sprites; the cursor taken away.
    void rebuild(const Song& song);
    void insert_column(uint64_t position, uint32_t sprite);
    // A sprite's colour, behind its label in its columns.
    void set_color(uint64_t sprite, const std::array<uint8_t, 3>& color);
    void erase_column(uint64_t position);
    // The playing entry: the cursor stands just after it.
    void place_cursor_after(uint64_t entry);
    // Scrolls this adjustment to keep the cursor in view.
    void follow_scroll(const Glib::RefPtr<Gtk::Adjustment>& adjustment) { scroll = adjustment; }

    // Left and Right move the cursor (and put it in place from the start);
    // they are the strip's whatever has the focus. True when taken.
    bool on_arrow_key(guint keyval);
    // BackSpace, Delete and a sprite's key ("0"-"9", "a"-"z") at the cursor,
    // when nothing else took them. True when taken.
    bool on_edit_key(guint keyval);

    // -1 while the cursor is not placed, else the number of entries left of it.
    int cursor() const { return cursor_at; }
    uint64_t size() const { return columns.size(); }

    sigc::signal<void, uint64_t, uint32_t>& signal_insert() { return insert_wanted; }   // position, sprite
    sigc::signal<void, uint64_t>& signal_erase() { return erase_wanted; }               // position
    // Left at the very start took the cursor away.
    sigc::signal<void>& signal_left() { return left; }

protected:
    Gtk::SizeRequestMode get_request_mode_vfunc() const override;
    void get_preferred_width_vfunc(int& minimum, int& natural) const override;
    void get_preferred_height_vfunc(int& minimum, int& natural) const override;
    void get_preferred_width_for_height_vfunc(int height, int& minimum, int& natural) const override;
    void get_preferred_height_for_width_vfunc(int width, int& minimum, int& natural) const override;
    void on_size_allocate(Gtk::Allocation& allocation) override;
    void forall_vfunc(gboolean include_internals, GtkCallback callback, gpointer data) override;
    void on_remove(Gtk::Widget* child) override;

private:
    // The children in the order they stand: the columns, the bar at the cursor.
    std::vector<Gtk::Widget*> children() const;
    void measure(bool width, int& minimum, int& natural) const;
    std::unique_ptr<SequenceWidget> make_column(uint32_t sprite);
    void show_cursor();
    void hide_cursor();
    void renumber(uint64_t from);
    void keep_visible(const Gdk::Rectangle& area);

    const Gtk::Widget& row_source;
    uint64_t sprite_count = 0;
    SequenceWidget::colors_t colors;
    std::vector<std::unique_ptr<SequenceWidget>> columns;
    std::unique_ptr<SeparateWidget> bar;
    int cursor_at = -1;
    Glib::RefPtr<Gtk::Adjustment> scroll;
    sigc::signal<void, uint64_t, uint32_t> insert_wanted;
    sigc::signal<void, uint64_t> erase_wanted;
    sigc::signal<void> left;
};

}  // namespace stepmill
