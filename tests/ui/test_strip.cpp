// The sequence strip in a real main window: the key table with the cursor
// invariants after every key, scrolling, following the player, and columns
// whose rows meet the sprite buttons'.
#include "gtk_test.h"
#include "sequence_widget.h"
#include "texts.h"

#include <atk/atk.h>
#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace stepmill;

namespace {

class Strip : public stepmill_test::WindowTest {
protected:
    void SetUp() override { open_window(); }

    // Rebuilds the views for a changed song, as an Open does.
    void reload()
    {
        window->clear_song_views();
        window->cursor_index = -1;
        delete window->separate;
        window->separate = nullptr;
        window->icon_buttons.rebuild(window->song.sprites.size());
        window->build_song_views();
        window->show_all_children(true);
        stepmill_test::settle_frame(*window);
    }

    std::vector<uint32_t> sequence() const { return {window->song.sequence.begin(), window->song.sequence.end()}; }

    // What holds after every key: one column per entry in order, named for
    // its position and sprite, the bar at child position cursor_index and
    // the iterators there too.
    void expect_consistent(const std::string& where)
    {
        SCOPED_TRACE(where);
        ASSERT_EQ(window->sequence_widgets.size(), window->song.sequence.size());
        int bar = -1, k = 0, position = 0;
        auto entry = window->song.sequence.begin();
        auto column = window->sequence_widgets.begin();
        for (Gtk::Widget* child : window->strip_box.get_children()) {
            if (child == window->separate) {
                bar = k++;
                continue;
            }
            EXPECT_EQ(child, *column);
            EXPECT_EQ((*column)->row_text(*entry), sprite_label(*entry));
            AtkObject* accessible = gtk_widget_get_accessible(GTK_WIDGET((*column)->gobj()));
            EXPECT_EQ(Glib::ustring(atk_object_get_name(accessible)),
                      "列 " + std::to_string(++position) + " スプライト " + sprite_label(*entry));
            ++column, ++entry, ++k;
        }
        EXPECT_EQ(bar, window->cursor_index);
        if (window->cursor_index >= 0) {
            EXPECT_EQ(window->cursor_entry, std::next(window->song.sequence.begin(), window->cursor_index));
            EXPECT_EQ(window->cursor_widget, std::next(window->sequence_widgets.begin(), window->cursor_index));
        }
    }
};

TEST_F(Strip, KeyTable)
{
    // handled: what the window reports, -1 where the toolkit's own keypad
    // bindings decide it.
    struct Step { guint key; int handled; std::vector<uint32_t> sequence; int cursor; };
    const std::vector<Step> steps = {
        {GDK_KEY_3, false, {}, -1},              // bar not placed: digits insert nothing
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
        {GDK_KEY_KP_1, -1, {3, 10, 3}, 3},       // nor keypad digits
        {GDK_KEY_Left, true, {3, 10, 3}, 2},
        {GDK_KEY_BackSpace, false, {3, 3}, 1},
        {GDK_KEY_z, false, {3, 35, 3}, 2},
        {GDK_KEY_Left, true, {3, 35, 3}, 1},
        {GDK_KEY_Delete, false, {3, 3}, 1},
        {GDK_KEY_Left, true, {3, 3}, 0},
        {GDK_KEY_BackSpace, false, {3, 3}, 0},   // nothing left of the bar
        {GDK_KEY_Left, true, {3, 3}, -1},        // removes the bar
        {GDK_KEY_Left, true, {3, 3}, -1},
        {GDK_KEY_Right, true, {3, 3}, 0},
        {GDK_KEY_Right, true, {3, 3}, 1},
        {GDK_KEY_Right, true, {3, 3}, 2},
        {GDK_KEY_Right, true, {3, 3}, 2},
    };
    for (size_t n = 0; n < steps.size(); ++n) {
        const Step& step = steps[n];
        std::string where = "step " + std::to_string(n) + " key " + gdk_keyval_name(step.key);
        bool handled = press(step.key);
        if (step.handled >= 0) {
            EXPECT_EQ(handled, step.handled != 0) << where;
        }
        EXPECT_EQ(sequence(), step.sequence) << where;
        EXPECT_EQ(window->cursor_index, step.cursor) << where;
        expect_consistent(where);
    }
}

// Keys for sprites a smaller song lacks make no entry; a focused tempo
// field takes the digits while the arrows still move the bar.
TEST_F(Strip, MissingSpritesAndAFocusedTempo)
{
    window->song.reset_sprites(12);   // "0".."9", "a", "b"
    reload();
    press(GDK_KEY_Right);
    for (guint key : {GDK_KEY_b, GDK_KEY_c, GDK_KEY_z, GDK_KEY_9})
        press(key);
    EXPECT_EQ(sequence(), (std::vector<uint32_t>{11, 9}));

    window->bpm_spin.grab_focus();
    ASSERT_TRUE(window->bpm_spin.has_focus());
    press(GDK_KEY_5);
    EXPECT_EQ(sequence(), (std::vector<uint32_t>{11, 9}));
    EXPECT_NE(window->bpm_spin.get_text().raw().find('5'), std::string::npos);
    EXPECT_TRUE(press(GDK_KEY_Left));
    EXPECT_EQ(window->cursor_index, 1);
    EXPECT_TRUE(press(GDK_KEY_Right));
    EXPECT_EQ(window->cursor_index, 2);
    expect_consistent("tempo focused");
}

TEST_F(Strip, Scrolling)
{
    auto adj = window->scroller.get_hadjustment();
    adj->configure(0.0, 0.0, 2000.0, 1.0, 10.0, 600.0);
    struct Case { int x, width; double expected; };
    const std::vector<Case> cases = {
        {700, 8, 108.0},   // right edge to the view's right edge
        {50, 8, 50.0},     // left edge to the view's left edge
        {100, 8, 50.0},    // inside: unchanged
        {642, 8, 50.0},    // right edge exactly at the view's: unchanged
    };
    for (const Case& c : cases) {
        window->keep_visible(Gdk::Rectangle(c.x, 0, c.width, 20));
        EXPECT_EQ(adj->get_value(), c.expected) << "x " << c.x;
    }

    // A bar kept in view at the end of a long strip; Left from 0 scrolls back.
    press(GDK_KEY_Right);
    for (int i = 0; i < 100; ++i)
        press(GDK_KEY_1);
    EXPECT_GT(adj->get_value(), 0.0);
    for (int i = 0; i < 101; ++i)
        press(GDK_KEY_Left);
    EXPECT_EQ(window->cursor_index, -1);
    EXPECT_EQ(adj->get_value(), 0.0);
}

// During a real playback the bar stands just after the playing entry: entry
// 3 puts it at 4, the next entry 0 at 1, also from not placed.
TEST_F(Strip, FollowsThePlayer)
{
    window->song.sequence = {1, 2, 3, 4};
    reload();
    window->bpm_spin.set_value(1000.0);   // a bar of 240 ms
    std::vector<std::pair<uint64_t, int>> seen;
    window->player.position_changed.connect([&](uint64_t p) { seen.emplace_back(p, window->cursor_index); });
    window->player.start_sequence(window->song);
    for (int i = 0; i < 100 && seen.size() < 6; ++i) {
        platform.advance(2048);   // the device plays on...
        window->player.poll();    // ...and the main loop hears of it
    }
    window->player.stop();
    auto after3 = std::find_if(seen.begin(), seen.end(), [](auto& s) { return s.first == 3; });
    ASSERT_TRUE(after3 != seen.end() && after3 + 1 != seen.end());
    EXPECT_EQ(after3->second, 4);
    EXPECT_EQ(*(after3 + 1), std::make_pair(uint64_t(0), 1));
    for (auto [p, cursor] : seen)
        EXPECT_EQ(cursor, static_cast<int>(p) + 1) << "entry " << p;
    expect_consistent("after playback");
}

// Every column and the bar keep their rows on the pixels of the sprite
// buttons, for songs of few and many sprites; a column shows its sprite.
TEST_F(Strip, RowsFollowTheSpriteButtons)
{
    for (uint32_t count : {1u, 36u, 40u}) {
        SCOPED_TRACE("sprites " + std::to_string(count));
        window->song.reset_sprites(count);
        window->song.sequence = {0, count - 1};
        reload();
        window->on_player_position(0);
        stepmill_test::settle_frame(*window);
        // The last column names its sprite in that sprite's row, a space elsewhere.
        for (uint64_t r = 0; r < count; ++r)
            EXPECT_EQ(window->sequence_widgets.back()->row_text(r), r + 1 == count ? sprite_label(r) : " ");
        auto buttons = window->icon_buttons.get_children();
        ASSERT_EQ(buttons.size(), count);
        std::vector<RowTextWidget*> widgets(window->sequence_widgets.begin(), window->sequence_widgets.end());
        widgets.push_back(window->separate);
        for (RowTextWidget* widget : widgets) {
            uint64_t r = 0;
            for (Gtk::Widget* button : buttons) {
                int y = 0, h = 0, bx = 0, by = 0;
                widget->row_extent(r++, y, h);
                button->translate_coordinates(*widget, 0, 0, bx, by);
                EXPECT_EQ(y, by) << "row " << r;
                EXPECT_EQ(h, button->get_allocated_height()) << "row " << r;
            }
        }
    }
}

}  // namespace
