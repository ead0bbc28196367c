// The sequence strip's widgets: one column per sequence entry and the cursor
// bar. Each paints its rows itself instead of holding one label per sprite,
// so that a long sequence of a big song stays a few thousand light widgets.
#pragma once

#include <glibmm/ustring.h>
#include <gtkmm/widget.h>

#include <gdkmm/rgba.h>

#include <array>
#include <cstdint>
#include <vector>

namespace stepmill {

// A column of one text per row (row i belongs to sprite i), drawn like a
// column of labels packed with expand into a box: every row at least one
// text line high, the extra height shared out evenly, each text centred.
// Given a column of equal rows to follow (the sprite buttons), it is exactly
// as tall as that column, so its rows fall on the same pixels; it keeps to
// the top of its box instead of spreading down a taller window.
class RowTextWidget : public Gtk::Widget {
public:
    RowTextWidget(uint64_t rows);

    // The widget whose height this one takes; null for text lines only.
    void follow_rows_of(const Gtk::Widget* source);

    uint64_t row_count() const { return rows; }
    // The text painted in row i.
    virtual Glib::ustring row_text(uint64_t i) const = 0;
    // Top edge and height of row i for the current allocation.
    void row_extent(uint64_t i, int& y, int& height) const;

protected:
    void get_preferred_width_vfunc(int& minimum, int& natural) const override;
    void get_preferred_height_vfunc(int& minimum, int& natural) const override;
    void get_preferred_width_for_height_vfunc(int height, int& minimum, int& natural) const override;
    void get_preferred_height_for_width_vfunc(int width, int& minimum, int& natural) const override;
    Gtk::SizeRequestMode get_request_mode_vfunc() const override;
    bool on_draw(const Cairo::RefPtr<Cairo::Context>& cr) override;
    void on_style_updated() override;

    // The widest text any row shows, measured for the width request.
    virtual Glib::ustring widest_text() const = 0;
    // The colour behind row i's text, if it has one.
    virtual bool row_color(uint64_t, Gdk::RGBA&) const { return false; }

private:
    void measure() const;

    uint64_t rows;
    const Gtk::Widget* row_source = nullptr;
    mutable int line_height = -1;   // cached text metrics, -1 until measured
    mutable int text_width = -1;
};

// One sequence entry: sprite v's label in row v, a single space elsewhere.
class SequenceWidget : public RowTextWidget {
public:
    using colors_t = std::vector<std::array<uint8_t, 3>>;   // by sprite
    // `colors` (the strip's) gives the colour behind the sprite's label.
    SequenceWidget(uint64_t sprite_count, int sprite, const colors_t* colors = nullptr);
    ~SequenceWidget() override;

    Glib::ustring row_text(uint64_t i) const override;
    // The column's place in the sequence, for the name assistive technology
    // reads: position (1-based) and sprite.
    void set_position(uint64_t position);
    Glib::ustring accessible_name() const;

protected:
    Glib::ustring widest_text() const override;
    bool row_color(uint64_t i, Gdk::RGBA& color) const override;

private:
    int sprite;
    const colors_t* colors;
    Glib::ustring label;
    uint64_t position = UINT64_MAX;
};

// The cursor bar: "|" in every row. Tells where it was placed, so that the
// strip can keep it in view.
class SeparateWidget : public RowTextWidget {
public:
    explicit SeparateWidget(uint64_t sprite_count);
    ~SeparateWidget() override;

    Glib::ustring row_text(uint64_t i) const override;
    sigc::signal<void, const Gdk::Rectangle&>& signal_placed() { return placed; }

protected:
    Glib::ustring widest_text() const override;
    void on_size_allocate(Gtk::Allocation& allocation) override;

private:
    sigc::signal<void, const Gdk::Rectangle&> placed;
};

}  // namespace stepmill
