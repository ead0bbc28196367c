// The sequence strip: one column per sequence entry and the cursor bar. It
// owns its columns and its cursor, takes the strip's keys, and asks for
// entries to be inserted and erased; the document's changes come back to it
// as columns to add and remove.
#pragma once

#include "sequence_widget.h"
#include "song.h"

#include <gdk/gdk.h>
#include <gtkmm/adjustment.h>
#include <gtkmm/box.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace stepmill {

class SequenceStrip : public Gtk::Box {
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

private:
    std::unique_ptr<SequenceWidget> make_column(uint32_t sprite) const;
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
