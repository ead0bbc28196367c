// The sequence strip in a real main window: the key table, the cursor
// invariants after every key, scrolling and following the player.
#include "gtk_test.h"
#include "main_window.h"
#include "midi_memory_platform.h"
#include "program.h"
#include "sequence_widget.h"
#include "texts.h"

#include <atk/atk.h>
#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>
#include <glibmm/main.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

using namespace stepmill;

namespace {

class Strip : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(stepmill_test::open_memory_port(platform));
        application = stepmill_test::make_application();
        window = stepmill_test::make_window(application);
        ASSERT_TRUE(stepmill_test::show_focused(*window));
    }
    void TearDown() override {
        window.reset();
        midi_out.reset();
    }

    void settle() { stepmill_test::settle_frame(*window); }

    // A key press as the toolkit delivers it to the window.
    bool press(guint keyval) {
        GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
        event->key.window = GDK_WINDOW(g_object_ref(window->get_window()->gobj()));
        event->key.keyval = keyval;
        event->key.send_event = TRUE;
        gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
        gboolean handled = gtk_widget_event(GTK_WIDGET(window->gobj()), event);
        gdk_event_free(event);
        settle();
        return handled;
    }

    // Rebuilds the views for a changed song, as an Open does.
    void reload() {
        window->clear_song_views();
        window->cursor_index = -1;
        delete window->separate;
        window->separate = nullptr;
        window->icon_buttons.rebuild(window->song.sprites.size());
        window->build_song_views();
        window->show_all_children(true);
        settle();
    }

    std::vector<uint32_t> sequence() const { return {window->song.sequence.begin(), window->song.sequence.end()}; }

    // The invariants that hold after every key: one column per entry in
    // order, the bar at child position cursor_index, the iterators there too.
    void expect_consistent(const std::string& where) {
        SCOPED_TRACE(where);
        auto children = window->strip_box.get_children();
        int bar = -1, k = 0;
        auto entry = window->song.sequence.begin();
        auto column = window->sequence_widgets.begin();
        ASSERT_EQ(window->sequence_widgets.size(), window->song.sequence.size());
        for (Gtk::Widget* child : children) {
            if (child == window->separate) {
                bar = k++;
                continue;
            }
            ASSERT_NE(column, window->sequence_widgets.end());
            EXPECT_EQ(child, *column);
            EXPECT_EQ((*column)->row_text(*entry), sprite_label(*entry));
            // Assistive technology reads the column's position and sprite.
            int position = static_cast<int>(std::distance(window->sequence_widgets.begin(), column)) + 1;
            AtkObject* accessible = gtk_widget_get_accessible(GTK_WIDGET((*column)->gobj()));
            EXPECT_EQ(Glib::ustring(atk_object_get_name(accessible)),
                      "列 " + std::to_string(position) + " スプライト " + sprite_label(*entry));
            ++column, ++entry, ++k;
        }
        EXPECT_EQ(bar, window->cursor_index);
        if (window->cursor_index >= 0) {
            EXPECT_EQ(window->cursor_entry, std::next(window->song.sequence.begin(), window->cursor_index));
            EXPECT_EQ(window->cursor_widget, std::next(window->sequence_widgets.begin(), window->cursor_index));
        }
    }

    midi_memory_platform_t platform;
    Glib::RefPtr<Gtk::Application> application;
    std::unique_ptr<MainWindow> window;
};

struct KeyStep {
    guint key;
    bool handled;                   // what the window reports
    std::vector<uint32_t> sequence; // after the key
    int cursor;
};

TEST_F(Strip, KeyTable) {
    const std::vector<KeyStep> steps = {
        {GDK_KEY_3, false, {}, -1},              // bar not placed: digits insert nothing
        {GDK_KEY_a, false, {}, -1},
        {GDK_KEY_Left, true, {}, -1},            // Left unplaced: handled, nothing
        {GDK_KEY_Right, true, {}, 0},            // places the bar at 0
        {GDK_KEY_Right, true, {}, 0},            // empty sequence: stays
        {GDK_KEY_BackSpace, false, {}, 0},
        {GDK_KEY_Delete, false, {}, 0},
        {GDK_KEY_3, false, {3}, 1},
        {GDK_KEY_a, false, {3, 10}, 2},
        {GDK_KEY_3, false, {3, 10, 3}, 3},       // appended, the bar stays last
        {GDK_KEY_Delete, false, {3, 10, 3}, 3},  // nothing right of the bar
        {GDK_KEY_A, false, {3, 10, 3}, 3},       // upper case inserts nothing
        {GDK_KEY_KP_1, false, {3, 10, 3}, 3},    // nor keypad digits
        {GDK_KEY_Left, true, {3, 10, 3}, 2},
        {GDK_KEY_BackSpace, false, {3, 3}, 1},
        {GDK_KEY_z, false, {3, 35, 3}, 2},
        {GDK_KEY_Left, true, {3, 35, 3}, 1},
        {GDK_KEY_Delete, false, {3, 3}, 1},
        {GDK_KEY_Left, true, {3, 3}, 0},
        {GDK_KEY_BackSpace, false, {3, 3}, 0},   // nothing left of the bar
        {GDK_KEY_0, false, {0, 3, 3}, 1},
        {GDK_KEY_Left, true, {0, 3, 3}, 0},
        {GDK_KEY_Left, true, {0, 3, 3}, -1},     // removes the bar
        {GDK_KEY_Left, true, {0, 3, 3}, -1},
        {GDK_KEY_Delete, false, {0, 3, 3}, -1},
        {GDK_KEY_Right, true, {0, 3, 3}, 0},
        {GDK_KEY_Right, true, {0, 3, 3}, 1},
        {GDK_KEY_Right, true, {0, 3, 3}, 2},
        {GDK_KEY_Right, true, {0, 3, 3}, 3},
        {GDK_KEY_Right, true, {0, 3, 3}, 3},
    };
    int n = 0;
    for (const KeyStep& step : steps) {
        std::string where = "step " + std::to_string(n++) + " key " + gdk_keyval_name(step.key);
        EXPECT_EQ(press(step.key), step.handled) << where;
        EXPECT_EQ(sequence(), step.sequence) << where;
        EXPECT_EQ(window->cursor_index, step.cursor) << where;
        expect_consistent(where);
    }
}

TEST_F(Strip, LeftFromZeroScrollsToTheStart) {
    press(GDK_KEY_Right);
    for (int i = 0; i < 200; ++i)
        press(GDK_KEY_1);
    auto adj = window->scroller.get_hadjustment();
    EXPECT_GT(adj->get_value(), 0.0);   // the bar at the end was kept in view
    for (int i = 0; i < 200; ++i)
        press(GDK_KEY_Left);
    EXPECT_EQ(window->cursor_index, 0);
    press(GDK_KEY_Left);
    EXPECT_EQ(window->cursor_index, -1);
    EXPECT_EQ(adj->get_value(), 0.0);
    expect_consistent("after Left from 0");
}

TEST_F(Strip, MissingSpritesMakeNoEntry) {
    window->song.reset_sprites(12);   // "0".."9", "a", "b"
    reload();
    press(GDK_KEY_Right);
    for (guint key : {GDK_KEY_b, GDK_KEY_c, GDK_KEY_z, GDK_KEY_9})
        press(key);
    EXPECT_EQ(sequence(), (std::vector<uint32_t>{11, 9}));
    expect_consistent("12 sprites");
}

TEST_F(Strip, FocusedTempoTakesDigitsWhileArrowsMoveTheBar) {
    press(GDK_KEY_Right);
    press(GDK_KEY_2);
    ASSERT_EQ(sequence(), std::vector<uint32_t>{2});
    window->bpm_spin.grab_focus();
    ASSERT_TRUE(window->bpm_spin.has_focus());
    Glib::ustring before = window->bpm_spin.get_text();
    press(GDK_KEY_5);
    EXPECT_EQ(sequence(), std::vector<uint32_t>{2});
    EXPECT_NE(window->bpm_spin.get_text(), before);
    // glibmm does not define npos out of line; compare against its value.
    const Glib::ustring::size_type not_found = Glib::ustring::npos;
    EXPECT_NE(window->bpm_spin.get_text().find('5'), not_found);
    EXPECT_TRUE(press(GDK_KEY_Left));
    EXPECT_EQ(window->cursor_index, 0);
    EXPECT_TRUE(press(GDK_KEY_Right));
    EXPECT_EQ(window->cursor_index, 1);
    expect_consistent("tempo focused");
}

TEST_F(Strip, KeepVisible) {
    auto adj = window->scroller.get_hadjustment();
    adj->configure(0.0, 0.0, 2000.0, 1.0, 10.0, 600.0);
    struct Case { int x, width; double expected; };
    const std::vector<Case> cases = {
        {700, 8, 108.0},   // right edge to the view's right edge
        {50, 8, 50.0},     // left edge to the view's left edge
        {100, 8, 50.0},    // inside: unchanged
        {642, 8, 50.0},    // right edge exactly at the view's: unchanged
        {0, 1, 0.0},
    };
    for (const Case& c : cases) {
        window->keep_visible(Gdk::Rectangle(c.x, 0, c.width, 20));
        EXPECT_EQ(adj->get_value(), c.expected) << "x " << c.x;
    }
}

TEST_F(Strip, FollowsThePlayer) {
    window->song.sequence = {1, 2, 3, 4};
    reload();
    window->bpm_spin.set_value(1000.0);   // a bar of 240 ms
    settle();
    std::vector<std::pair<uint64_t, int>> seen;
    window->player.position_changed.connect(
        [&](uint64_t p) { seen.emplace_back(p, window->cursor_index); });
    window->player.start_sequence(window->song);
    auto context = Glib::MainContext::get_default();
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end && seen.size() < 6)
        context->iteration(false);
    window->player.stop();
    ASSERT_GE(seen.size(), 5u);
    for (auto [p, cursor] : seen)
        EXPECT_EQ(cursor, static_cast<int>(p) + 1) << "entry " << p;
    auto after3 = std::find_if(seen.begin(), seen.end(), [](auto& s) { return s.first == 3; });
    ASSERT_NE(after3, seen.end());
    ASSERT_NE(after3 + 1, seen.end());
    EXPECT_EQ(after3->second, 4);
    EXPECT_EQ((after3 + 1)->first, 0u);
    EXPECT_EQ((after3 + 1)->second, 1);
    expect_consistent("after playback");
}

TEST_F(Strip, PlacedByThePlayerFromNotPlaced) {
    window->song.sequence = {1, 2, 3, 4};
    reload();
    ASSERT_EQ(window->cursor_index, -1);
    window->on_player_position(3);
    EXPECT_EQ(window->cursor_index, 4);
    window->on_player_position(0);
    EXPECT_EQ(window->cursor_index, 1);
    expect_consistent("placed by the player");
}

// What a column paints: its sprite's label in the sprite's row, a space in
// every other row, the rows on the same pixels as the sprite buttons'.
TEST_F(Strip, ColumnPaintsItsSprite) {
    SequenceWidget column(36, 5);
    for (uint64_t i = 0; i < 36; ++i)
        EXPECT_EQ(column.row_text(i), i == 5 ? Glib::ustring("5") : Glib::ustring(" ")) << "row " << i;
    column.follow_rows_of(&window->icon_buttons);
    window->strip_box.pack_start(column, Gtk::PACK_SHRINK, 0);
    window->show_all_children(true);
    settle();
    // Every row on the same pixels as its sprite button, and the column no
    // taller than the buttons even where the window is taller.
    auto buttons = window->icon_buttons.get_children();
    ASSERT_EQ(buttons.size(), 36u);
    uint64_t r = 0;
    for (Gtk::Widget* button : buttons) {
        int y = 0, h = 0, bx = 0, by = 0;
        column.row_extent(r, y, h);
        button->translate_coordinates(column, 0, 0, bx, by);
        EXPECT_EQ(y, by) << "row " << r;
        EXPECT_EQ(h, button->get_allocated_height()) << "row " << r;
        ++r;
    }

    // Render it: ink only in row 5.
    int width = column.get_allocated_width(), height = column.get_allocated_height();
    auto surface = Cairo::ImageSurface::create(Cairo::FORMAT_ARGB32, width, height);
    // gtkmm keeps Widget::draw protected; the C call is the public one.
    auto context = Cairo::Context::create(surface);
    gtk_widget_draw(GTK_WIDGET(column.gobj()), context->cobj());
    surface->flush();
    std::vector<int> ink(36, 0);
    for (uint64_t r = 0; r < 36; ++r) {
        int ry, rh;
        column.row_extent(r, ry, rh);
        for (int py = ry; py < ry + rh && py < height; ++py)
            for (int px = 0; px < width; ++px)
                ink[r] += surface->get_data()[py * surface->get_stride() + px * 4 + 3] != 0;
    }
    for (uint64_t r = 0; r < 36; ++r) {
        if (r == 5)
            EXPECT_GT(ink[r], 0);
        else
            EXPECT_EQ(ink[r], 0) << "row " << r;
    }
    window->strip_box.remove(column);
}

// The strip's columns and bar, built for songs of few and many sprites: each
// row on the pixels of its sprite button, the columns as tall as the button
// column, never spread down a window taller than the buttons.
TEST_F(Strip, RowsFollowTheSpriteButtons) {
    for (uint64_t count : {1u, 4u, 36u, 40u}) {
        SCOPED_TRACE("sprites " + std::to_string(count));
        window->song.reset_sprites(count);
        window->song.sequence = {0, static_cast<uint32_t>(count - 1)};
        reload();
        window->on_player_position(0);
        settle();
        auto buttons = window->icon_buttons.get_children();
        ASSERT_EQ(buttons.size(), count);
        int total = 0;
        for (Gtk::Widget* button : buttons)
            total += button->get_allocated_height();
        std::vector<RowTextWidget*> widgets(window->sequence_widgets.begin(), window->sequence_widgets.end());
        widgets.push_back(window->separate);
        for (RowTextWidget* widget : widgets) {
            EXPECT_EQ(widget->get_allocated_height(), total);
            uint64_t r = 0;
            for (Gtk::Widget* button : buttons) {
                int y = 0, h = 0, bx = 0, by = 0;
                widget->row_extent(r, y, h);
                button->translate_coordinates(*widget, 0, 0, bx, by);
                EXPECT_EQ(y, by) << "row " << r;
                EXPECT_EQ(h, button->get_allocated_height()) << "row " << r;
                ++r;
            }
        }
    }
}

}  // namespace
