#include "sequence_strip.h"

#include <gdk/gdkkeysyms.h>

#include <algorithm>

namespace stepmill {

namespace {

// The sprite a digit or letter key names, or -1 for any other key.
int key_sprite(guint key)
{
    if (key >= GDK_KEY_0 && key <= GDK_KEY_9)
        return static_cast<int>(key - GDK_KEY_0);
    if (key >= GDK_KEY_a && key <= GDK_KEY_z)
        return static_cast<int>(key - GDK_KEY_a) + 10;
    return -1;
}

}  // namespace

SequenceStrip::SequenceStrip(const Gtk::Widget& row_source) : row_source(row_source)
{
    set_has_window(false);
    set_redraw_on_allocate(false);
    set_can_focus(true);
}

// Children are let go before they are destroyed: a child destroyed while it
// has a parent would ask this strip to remove it from a vector being torn down.
SequenceStrip::~SequenceStrip()
{
    hide_cursor();
    for (auto& column : columns)
        remove(*column);
}

std::unique_ptr<SequenceWidget> SequenceStrip::make_column(uint32_t sprite)
{
    auto column = std::make_unique<SequenceWidget>(sprite_count, static_cast<int>(sprite), &colors);
    column->follow_rows_of(&row_source);
    column->set_parent(*this);
    return column;
}

std::vector<Gtk::Widget*> SequenceStrip::children() const
{
    std::vector<Gtk::Widget*> order;
    order.reserve(columns.size() + 1);
    for (size_t i = 0; i <= columns.size(); ++i) {
        if (bar && static_cast<int>(i) == cursor_at && bar->get_parent() == this)
            order.push_back(bar.get());
        if (i < columns.size() && columns[i]->get_parent() == this)
            order.push_back(columns[i].get());
    }
    return order;
}

void SequenceStrip::forall_vfunc(gboolean, GtkCallback callback, gpointer data)
{
    // A copy: the callback may take children away.
    for (Gtk::Widget* child : children())
        callback(child->gobj(), data);
}

// Every child leaves by this road; the ones after it move left.
void SequenceStrip::on_remove(Gtk::Widget* child)
{
    const bool visible = child->get_visible();
    child->unparent();
    if (child == bar.get())
        cursor_at = -1;
    if (visible)
        queue_resize();
}

Gtk::SizeRequestMode SequenceStrip::get_request_mode_vfunc() const
{
    return Gtk::SIZE_REQUEST_CONSTANT_SIZE;
}

// The children side by side: their widths add up, the tallest sets the height.
void SequenceStrip::measure(bool width, int& minimum, int& natural) const
{
    minimum = natural = 0;
    for (Gtk::Widget* child : children()) {
        if (!child->get_visible())
            continue;
        int child_minimum = 0, child_natural = 0;
        width ? child->get_preferred_width(child_minimum, child_natural)
              : child->get_preferred_height(child_minimum, child_natural);
        minimum = width ? minimum + child_minimum : std::max(minimum, child_minimum);
        natural = width ? natural + child_natural : std::max(natural, child_natural);
    }
}

void SequenceStrip::get_preferred_width_vfunc(int& minimum, int& natural) const
{
    measure(true, minimum, natural);
}

void SequenceStrip::get_preferred_height_vfunc(int& minimum, int& natural) const
{
    measure(false, minimum, natural);
}

void SequenceStrip::get_preferred_width_for_height_vfunc(int, int& minimum, int& natural) const
{
    measure(true, minimum, natural);
}

void SequenceStrip::get_preferred_height_for_width_vfunc(int, int& minimum, int& natural) const
{
    measure(false, minimum, natural);
}

// Each child its natural width and the strip's height, left to right; room
// left over stays empty at the end.
void SequenceStrip::on_size_allocate(Gtk::Allocation& allocation)
{
    set_allocation(allocation);
    int x = allocation.get_x();
    for (Gtk::Widget* child : children()) {
        if (!child->get_visible())
            continue;
        int minimum = 0, natural = 0;
        child->get_preferred_width(minimum, natural);
        Gtk::Allocation place(x, allocation.get_y(), natural, allocation.get_height());
        child->size_allocate(place);
        x += natural;
    }
}

void SequenceStrip::rebuild(const Song& song)
{
    hide_cursor();
    for (auto& column : columns)
        remove(*column);
    columns.clear();
    sprite_count = song.sprites.size();
    colors.clear();
    for (const Sprite& sprite : song.sprites)
        colors.push_back(sprite.color);
    bar = std::make_unique<SeparateWidget>(sprite_count);
    bar->follow_rows_of(&row_source);
    bar->signal_placed().connect(sigc::mem_fun(*this, &SequenceStrip::keep_visible));
    for (uint32_t sprite : song.sequence)
        columns.push_back(make_column(sprite));
    renumber(0);
    // Each column shown alone: walking every widget of a long sequence to
    // show them would cost more than the columns themselves.
    for (auto& column : columns)
        column->show();
}

void SequenceStrip::renumber(uint64_t from)
{
    for (uint64_t i = from; i < columns.size(); ++i)
        columns[i]->set_position(i);
}

void SequenceStrip::insert_column(uint64_t position, uint32_t sprite)
{
    position = std::min<uint64_t>(position, columns.size());
    auto column = make_column(sprite);
    column->show();
    // An entry made left of the cursor (or at it) goes in before the bar and
    // moves the cursor on.
    if (cursor_at >= 0 && position <= static_cast<uint64_t>(cursor_at))
        ++cursor_at;
    columns.insert(columns.begin() + static_cast<long>(position), std::move(column));
    renumber(position);
}

void SequenceStrip::set_color(uint64_t sprite, const std::array<uint8_t, 3>& color)
{
    if (sprite >= colors.size())
        return;
    colors[sprite] = color;
    for (auto& column : columns)
        if (column->row_text(sprite) != " ")
            column->queue_draw();
}

void SequenceStrip::erase_column(uint64_t position)
{
    if (position >= columns.size())
        return;
    remove(*columns[position]);
    columns.erase(columns.begin() + static_cast<long>(position));
    if (cursor_at >= 0 && position < static_cast<uint64_t>(cursor_at))
        --cursor_at;
    renumber(position);
}

void SequenceStrip::show_cursor()
{
    if (!bar)
        return;
    if (!bar->get_parent())
        bar->set_parent(*this);
    bar->show();
    queue_resize();
}

void SequenceStrip::hide_cursor()
{
    if (bar && bar->get_parent())
        remove(*bar);
    cursor_at = -1;
}

void SequenceStrip::place_cursor_after(uint64_t entry)
{
    // The sequence may have been shortened since this entry began.
    cursor_at = static_cast<int>(std::min<uint64_t>(entry + 1, columns.size()));
    show_cursor();
}

void SequenceStrip::keep_visible(const Gdk::Rectangle& area)
{
    if (!scroll)
        return;
    double over = area.get_x() + area.get_width() - scroll->get_page_size();
    if (over > 0 && over > scroll->get_value())
        scroll->set_value(over);
    else if (scroll->get_value() > area.get_x())
        scroll->set_value(area.get_x());
}

bool SequenceStrip::on_arrow_key(guint keyval)
{
    if (keyval == GDK_KEY_Left) {
        if (cursor_at == 0) {
            hide_cursor();
            keep_visible(Gdk::Rectangle(0, 0, 1, 1));
            left.emit();
        } else if (cursor_at >= 1) {
            --cursor_at;
            show_cursor();
        }
        return true;
    }
    if (keyval == GDK_KEY_Right) {
        if (cursor_at < static_cast<int>(columns.size()))
            ++cursor_at;
        show_cursor();
        grab_focus();
        return true;
    }
    return false;
}

bool SequenceStrip::on_edit_key(guint keyval)
{
    if (cursor_at < 0)
        return false;
    const uint64_t at = static_cast<uint64_t>(cursor_at);
    if (keyval == GDK_KEY_BackSpace) {
        if (at >= 1)
            erase_wanted.emit(at - 1);
        return true;
    }
    if (keyval == GDK_KEY_Delete) {
        if (at < columns.size())
            erase_wanted.emit(at);
        return true;
    }
    int sprite = key_sprite(keyval);
    // A key for a sprite the song does not have makes no entry.
    if (sprite < 0 || static_cast<uint64_t>(sprite) >= sprite_count)
        return false;
    insert_wanted.emit(at, static_cast<uint32_t>(sprite));
    return true;
}

}  // namespace stepmill
