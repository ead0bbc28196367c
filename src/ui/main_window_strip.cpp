// The window's song views: sprite editors, the sequence strip and its keys.
#include "main_window.h"
#include "sequence_widget.h"
#include "sprite_window.h"
#include "texts.h"

#include <gdk/gdkkeysyms.h>

#include <algorithm>
#include <iterator>

namespace stepmill {

// Editors are built when first presented: the grid of a big song's every
// sprite would cost seconds and hundreds of megabytes before the window shows.
void MainWindow::present_sprite_window(uint64_t i) {
    if (i >= sprite_windows.size() || i >= song.sprites.size())
        return;
    if (!sprite_windows[i])
        sprite_windows[i] = new SpriteWindow(i, song.sprites[i], sprite_label(i), *this);
    sprite_windows[i]->present();
}

void MainWindow::build_song_views() {
    uint64_t n = song.sprites.size();
    sprite_windows.assign(n, nullptr);
    // Only the editors the user had opened come back, hidden as before.
    for (uint64_t i : built_editors)
        if (i < n)
            sprite_windows[i] = new SpriteWindow(i, song.sprites[i], sprite_label(i), *this);
    built_editors.clear();
    uint64_t position = 0;
    for (uint32_t v : song.sequence) {
        auto column = new SequenceWidget(n, static_cast<int>(v));
        column->set_position(position++);
        column->follow_rows_of(&icon_buttons);
        sequence_widgets.push_back(column);
        strip_box.pack_start(*column, Gtk::PACK_SHRINK, 0);
    }
    separate = new SeparateWidget(*this, n);
    separate->follow_rows_of(&icon_buttons);
}

void MainWindow::clear_song_views() {
    built_editors.clear();
    for (uint64_t i = 0; i < sprite_windows.size(); ++i) {
        if (!sprite_windows[i])
            continue;
        built_editors.push_back(i);
        delete sprite_windows[i];
    }
    sprite_windows.clear();
    for (SequenceWidget* column : sequence_widgets) {
        strip_box.remove(*column);
        delete column;
    }
    sequence_widgets.clear();
}

void MainWindow::on_player_position(uint64_t p) {
    if (cursor_index == -1)
        strip_box.pack_start(*separate, Gtk::PACK_SHRINK, 0);
    // The sequence may have been shortened since this entry began.
    cursor_index = static_cast<int>(std::min<uint64_t>(p + 1, song.sequence.size()));
    cursor_entry = std::next(song.sequence.begin(), cursor_index);
    cursor_widget = std::next(sequence_widgets.begin(), cursor_index);
    strip_box.reorder_child(*separate, cursor_index);
    // Of the window's widgets only a newly packed bar can be hidden: showing
    // it is what showing them all would do, without walking every column of
    // a long sequence on each key.
    separate->show();
}

void MainWindow::keep_visible(const Gdk::Rectangle& r) {
    auto adj = scroller.get_hadjustment();
    int right = r.get_x() + r.get_width();
    double over = right - adj->get_page_size();
    if (over > 0 && over > adj->get_value())
        adj->set_value(over);
    else if (adj->get_value() > r.get_x())
        adj->set_value(r.get_x());
}

// Renames the columns from `from` on after their positions shifted.
static void renumber(std::list<SequenceWidget*>::iterator it, std::list<SequenceWidget*>::iterator end,
                     uint64_t from) {
    for (; it != end; ++it)
        (*it)->set_position(from++);
}

void MainWindow::insert_entry(uint32_t sprite) {
    song.sequence.insert(cursor_entry, sprite);
    player.update(song);
    auto column = new SequenceWidget(song.sprites.size(), static_cast<int>(sprite));
    column->follow_rows_of(&icon_buttons);
    auto it = sequence_widgets.insert(cursor_widget, column);
    strip_box.pack_start(*column, Gtk::PACK_SHRINK, 0);
    strip_box.reorder_child(*column, cursor_index);
    renumber(it, sequence_widgets.end(), static_cast<uint64_t>(cursor_index));
    cursor_index += 1;
    column->show();
}

void MainWindow::erase_before_cursor() {
    song.sequence.erase(std::prev(cursor_entry));
    player.update(song);
    auto it = std::prev(cursor_widget);
    strip_box.remove(**it);
    delete *it;
    sequence_widgets.erase(it);
    renumber(cursor_widget, sequence_widgets.end(), static_cast<uint64_t>(cursor_index) - 1);
}

void MainWindow::erase_at_cursor() {
    cursor_entry = song.sequence.erase(cursor_entry);
    player.update(song);
    strip_box.remove(**cursor_widget);
    delete *cursor_widget;
    cursor_widget = sequence_widgets.erase(cursor_widget);
    renumber(cursor_widget, sequence_widgets.end(), static_cast<uint64_t>(cursor_index));
}

// The sprite a digit or letter key names, or -1 for any other key.
static int key_sprite(guint key) {
    if (key >= GDK_KEY_0 && key <= GDK_KEY_9)
        return static_cast<int>(key - GDK_KEY_0);
    if (key >= GDK_KEY_a && key <= GDK_KEY_z)
        return static_cast<int>(key - GDK_KEY_a) + 10;
    return -1;
}

bool MainWindow::on_key_press_event(GdkEventKey* event) {
    int length = static_cast<int>(song.sequence.size());
    // The arrows belong to the strip: they never move the focus between
    // widgets nor reach a focused widget.
    if (event->keyval == GDK_KEY_Left) {
        if (cursor_index == 0) {
            cursor_index = -1;
            icon_buttons.grab_focus();
            strip_box.remove(*separate);
            keep_visible(Gdk::Rectangle(0, 0, 1, 1));
        } else if (cursor_index >= 1) {
            cursor_index -= 1;
            --cursor_entry;
            --cursor_widget;
            strip_box.reorder_child(*separate, cursor_index);
        }
        return true;
    }
    if (event->keyval == GDK_KEY_Right) {
        if (cursor_index == -1) {
            cursor_index = 0;
            cursor_entry = song.sequence.begin();
            cursor_widget = sequence_widgets.begin();
            strip_box.pack_start(*separate, Gtk::PACK_SHRINK, 0);
            strip_box.reorder_child(*separate, 0);
            separate->show();
        } else if (cursor_index < length) {
            cursor_index += 1;
            ++cursor_entry;
            ++cursor_widget;
            strip_box.reorder_child(*separate, cursor_index);
        }
        strip_box.grab_focus();
        return true;
    }

    // Everything else goes to accelerators, mnemonics and the focused widget
    // first; the strip only takes what they leave.
    bool handled = Gtk::Window::on_key_press_event(event);
    if (handled)
        return handled;
    if (event->keyval == GDK_KEY_BackSpace) {
        if (cursor_index >= 1) {
            erase_before_cursor();
            cursor_index -= 1;
        }
    } else if (event->keyval == GDK_KEY_Delete) {
        if (cursor_index >= 0 && cursor_index < length) {
            erase_at_cursor();
        }
    } else {
        int sprite = key_sprite(event->keyval);
        // A key for a sprite the song does not have makes no entry.
        if (sprite >= 0 && cursor_index != -1 && static_cast<uint64_t>(sprite) < song.sprites.size())
            insert_entry(static_cast<uint32_t>(sprite));
    }
    return handled;
}

}  // namespace stepmill
