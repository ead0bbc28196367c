// The sequence strip in a real main window: the key table with the cursor
// invariants after every key, scrolling, following the player, and columns
// whose rows meet the sprite buttons'.
#include "gtk_test.h"
#include "sequence_widget.h"

#include <gtkmm/scrolledwindow.h>

using namespace stepmill_test;

namespace {

class Strip : public WindowTest {
protected:
    // A song of `sprites` sprites and this sequence, opened.
    void open_song(uint32_t sprites, const std::string& sequence, uint64_t bpm = 120)
    {
        std::string text = "bpm: " + std::to_string(bpm) + "\nsprites: " + std::to_string(sprites) + "\n";
        for (uint32_t i = 0; i < sprites; ++i) text += "beats: 8\nsprite end\n";
        open_window(write_file("strip.trm", text + "sequence: " + sequence + "\n"));
    }

    std::vector<uint32_t> sequence() const
    {
        const auto& s = window->document().song().sequence;
        return {s.begin(), s.end()};
    }

    // What holds after every key: one column per entry in order, named for
    // its position and sprite and showing it in that sprite's row, and the
    // bar ("|") at the cursor, laid out left to right in that order.
    void expect_consistent(const std::string& where)
    {
        const std::vector<uint32_t> entries = sequence();
        std::vector<std::string> shown, expected;
        for (size_t i = 0; i <= entries.size(); ++i) {
            if (int(i) == strip().cursor()) expected.push_back("|");
            if (i < entries.size())
                expected.push_back("列 " + std::to_string(i + 1) + " スプライト " + sprite_label(entries[i]) + ": " +
                                   sprite_label(entries[i]));
        }
        size_t position = 0;
        int x = strip().get_allocation().get_x();   // each child laid out just right of the one before
        for (Gtk::Widget* child : strip().get_children()) {
            EXPECT_EQ(child->get_allocation().get_x(), x) << where << ": child " << shown.size();
            x += child->get_allocated_width();
            auto* column = dynamic_cast<SequenceWidget*>(child);
            if (!column || position >= entries.size())
                shown.push_back(dynamic_cast<SeparateWidget*>(child) ? "|" : "?");
            else
                shown.push_back(atk_object_get_name(gtk_widget_get_accessible(child->gobj())) +
                                (": " + column->row_text(entries[position++])));
        }
        EXPECT_EQ(shown, expected) << where;
        EXPECT_EQ(strip().size(), entries.size()) << where;
    }
};

// The keys on a song of 36 sprites, then on a long strip, which scrolls to
// keep the bar in view; a focused tempo field takes the digits while the
// arrows still move the bar; keys for sprites a smaller song lacks make no
// entry.
TEST_F(Strip, Keys)
{
    open_window();
    // handled: what the window reports, -1 where the toolkit's own keypad
    // bindings decide it.
    struct Step { guint key; int handled; std::vector<uint32_t> sequence; int cursor; };
    const std::vector<Step> steps = {
        {GDK_KEY_3, false, {}, -1},              // bar not placed: digits insert nothing
        {GDK_KEY_Left, true, {}, -1},            // Left unplaced: handled, nothing
        {GDK_KEY_Right, true, {}, 0},            // places the bar at 0
        {GDK_KEY_Right, true, {}, 0},            // at the end: stays
        {GDK_KEY_3, true, {3}, 1},
        {GDK_KEY_a, true, {3, 10}, 2},
        {GDK_KEY_3, true, {3, 10, 3}, 3},        // appended, the bar stays last
        {GDK_KEY_Delete, true, {3, 10, 3}, 3},   // nothing right of the bar
        {GDK_KEY_A, false, {3, 10, 3}, 3},       // upper case inserts nothing
        {GDK_KEY_KP_1, -1, {3, 10, 3}, 3},       // nor keypad digits
        {GDK_KEY_Left, true, {3, 10, 3}, 2},
        {GDK_KEY_BackSpace, true, {3, 3}, 1},
        {GDK_KEY_z, true, {3, 35, 3}, 2},
        {GDK_KEY_Left, true, {3, 35, 3}, 1},
        {GDK_KEY_Delete, true, {3, 3}, 1},
        {GDK_KEY_Left, true, {3, 3}, 0},
        {GDK_KEY_BackSpace, true, {3, 3}, 0},    // nothing left of the bar
        {GDK_KEY_Left, true, {3, 3}, -1},        // removes the bar
        {GDK_KEY_Right, true, {3, 3}, 0},
        {GDK_KEY_Right, true, {3, 3}, 1},
    };
    for (size_t n = 0; n < steps.size(); ++n) {
        const Step& step = steps[n];
        const std::string where = "step " + std::to_string(n) + " key " + gdk_keyval_name(step.key);
        const bool handled = press(step.key);
        EXPECT_TRUE(step.handled < 0 || handled == (step.handled != 0)) << where;
        EXPECT_EQ(sequence(), step.sequence) << where;
        EXPECT_EQ(strip().cursor(), step.cursor) << where;
        expect_consistent(where);
    }

    // The bar kept in view at the end of a long strip; Left from 0 scrolls back.
    auto adj = find_one<Gtk::ScrolledWindow>(*window).get_hadjustment();
    press(GDK_KEY_Right);
    for (int i = 0; i < 100; ++i)
        press(GDK_KEY_1);
    EXPECT_GT(adj->get_value(), 0.0);
    EXPECT_GE(adj->get_value() + adj->get_page_size(), adj->get_upper() - 20) << "the end in view";
    for (int i = 0; i < 103; ++i)
        press(GDK_KEY_Left);
    EXPECT_EQ(strip().cursor(), -1);
    EXPECT_EQ(adj->get_value(), 0.0);

    auto& tempo = control("beat per minute");
    tempo.grab_focus();
    ASSERT_TRUE(tempo.has_focus());
    press(GDK_KEY_5);
    EXPECT_EQ(sequence().size(), 102u);
    EXPECT_NE(tempo.get_text().raw().find('5'), std::string::npos);
    for (guint key : {GDK_KEY_Right, GDK_KEY_Right, GDK_KEY_Left})
        EXPECT_TRUE(press(key));
    EXPECT_EQ(strip().cursor(), 0);
    expect_consistent("tempo focused");

    open_song(12, "");   // "0".."9", "a", "b"
    for (guint key : {GDK_KEY_Right, GDK_KEY_b, GDK_KEY_c, GDK_KEY_z, GDK_KEY_9})
        press(key);
    EXPECT_EQ(sequence(), (std::vector<uint32_t>{11, 9}));
}

// During playback the bar stands just after the entry heard: entry 3 puts it
// at 4, the next entry 0 at 1, also from not placed.
TEST_F(Strip, FollowsThePlayer)
{
    open_song(36, "1 2 3 4", 1000);   // a bar of 11520 frames
    std::vector<int> cursors;
    std::vector<uint64_t> frames;   // when each move was seen
    play_button().clicked();
    for (int i = 0; i < 100 && cursors.size() < 5; ++i) {
        const int before = strip().cursor();
        platform.advance(2048);   // the device plays on, and the main loop hears of it
        if (run_until([&] { return strip().cursor() != before; }, std::chrono::milliseconds(30)))
            cursors.push_back(strip().cursor()), frames.push_back(platform.now());
    }
    EXPECT_EQ(cursors, (std::vector<int>{1, 2, 3, 4, 1}));
    for (size_t i = 1; i < frames.size(); ++i)
        EXPECT_LT(frames[i] - frames[i - 1], 11520u + 2 * 2048u) << "moved when its entry was heard";
    expect_consistent("after playback");
}

// Every column and the bar keep their rows on the pixels of the sprite
// buttons, for songs of few and many sprites; a column shows its sprite.
TEST_F(Strip, RowsFollowTheSpriteButtons)
{
    for (uint32_t count : {1u, 36u, 40u}) {
        SCOPED_TRACE("sprites " + std::to_string(count));
        open_song(count, "0 " + std::to_string(count - 1));
        press(GDK_KEY_Right);
        auto buttons = sprite_buttons();
        ASSERT_EQ(buttons.size(), count);
        std::vector<RowTextWidget*> widgets;
        for (Gtk::Widget* child : strip().get_children())
            widgets.push_back(dynamic_cast<RowTextWidget*>(child));
        ASSERT_EQ(widgets.size(), 3u);
        // The last column names its sprite in that sprite's row, a space elsewhere.
        for (uint64_t r = 0; r < count; ++r)
            EXPECT_EQ(widgets.back()->row_text(r), r + 1 == count ? sprite_label(r) : " ");
        for (RowTextWidget* widget : widgets) {
            for (uint64_t r = 0; r < count; ++r) {
                int y = 0, h = 0, bx = 0, by = 0;
                widget->row_extent(r, y, h);
                buttons[r]->translate_coordinates(*widget, 0, 0, bx, by);
                EXPECT_EQ(std::make_pair(y, h), std::make_pair(by, buttons[r]->get_allocated_height())) << "row " << r;
            }
        }
    }
}

}  // namespace
