// The sprite editor in a real main window: the grid against the drum table,
// its boxes under mouse, keys and assistive technology, the preview note and
// focus walk, Apply, play/stop and closing.
#include "gtk_test.h"
#include "program.h"
#include "sprite_window.h"

#include <atk/atk.h>
#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

using namespace stepmill;

namespace {

class Editor : public stepmill_test::WindowTest {
protected:
    void TearDown() override
    {
        close_window();
        if (!song_path.empty())
            std::remove(song_path.c_str());
    }

    void open_with(const std::string& song_text)
    {
        song_path = testing::TempDir() + "editor_" +
                    testing::UnitTest::GetInstance()->current_test_info()->name() + ".trm";
        std::ofstream(song_path) << song_text;
        open_window(song_path);
    }

    SpriteWindow& present(uint64_t i)
    {
        window->present_sprite_window(i);
        stepmill_test::settle_frame(*window->sprite_windows[i]);
        return *window->sprite_windows[i];
    }

    static void respond(SpriteWindow& editor, int response)
    {
        dynamic_cast<Gtk::Button*>(editor.get_widget_for_response(response))->clicked();
        stepmill_test::settle();
    }

    static int active_count(SpriteWindow& editor)
    {
        int n = 0;
        for (auto* row : editor.rows)
            for (auto* button : row->buttons)
                n += button->get_active();
        return n;
    }

    // The box the focus is on, as (row, beat), or (-1, -1).
    static std::pair<int, int> focused(SpriteWindow& editor)
    {
        for (size_t r = 0; r < editor.rows.size(); ++r)
            for (size_t b = 0; b < editor.rows[r]->buttons.size(); ++b)
                if (editor.rows[r]->buttons[b]->is_focus())
                    return {static_cast<int>(r), static_cast<int>(b)};
        return {-1, -1};
    }

    std::string song_path;
};

// Each row: its label where the table puts it, its boxes on the label's
// pixels with states from the sprite's notes, each an accessible check box
// named for the instrument and the beat. Building makes no sound.
TEST_F(Editor, GridShowsTheDrumTableInOrder)
{
    open_window();
    Sprite& sprite = window->song.sprites[1];
    sprite.notes[2].set(42);   // closed hi-hat, row 8
    sprite.notes[7].set(75);   // claves, the last row
    sprite.notes[0].set(35);
    SpriteWindow& editor = present(1);
    EXPECT_EQ(editor.get_title(), "1");
    ASSERT_EQ(editor.rows.size(), 34u);
    AtkObject* grid = gtk_widget_get_accessible(GTK_WIDGET(editor.note_grid.gobj()));
    ASSERT_EQ(atk_object_get_n_accessible_children(grid), 34 * 8);
    int active = 0;
    for (uint64_t r = 0; r < 34; ++r) {
        SCOPED_TRACE("row " + std::to_string(r));
        auto* row = editor.rows[r];
        EXPECT_EQ(row->label.get_text(), drum_note_table[r].name);
        EXPECT_EQ(editor.grid.get_child_at(0, static_cast<int>(r)), &row->label);
        int label_x = 0, label_y = 0;
        ASSERT_TRUE(row->label.translate_coordinates(editor.note_grid, 0, 0, label_x, label_y));
        ASSERT_EQ(row->buttons.size(), 8u);
        for (uint64_t b = 0; b < 8; ++b) {
            NoteCell* button = row->buttons[b];
            EXPECT_EQ(button->area().get_y(), label_y);
            EXPECT_EQ(button->area().get_height(), row->label.get_allocated_height());
            EXPECT_EQ(button->get_active(), sprite.notes[b].test(drum_note_table[r].note)) << "beat " << b;
            AtkObject* box = atk_object_ref_accessible_child(grid, static_cast<gint>(r * 8 + b));
            EXPECT_EQ(box, button->accessible());
            EXPECT_EQ(Glib::ustring(atk_object_get_name(box)), note_button_name(r, b));
            AtkStateSet* states = atk_object_ref_state_set(box);
            active += atk_state_set_contains_state(states, ATK_STATE_CHECKED);
            g_object_unref(states);
            g_object_unref(box);
        }
    }
    EXPECT_EQ(active, 3) << "checked as assistive technology sees them";
    AtkObject* hat = editor.rows[8]->buttons[2]->accessible();
    EXPECT_STREQ(atk_object_get_name(hat), "クローズド・ハイハット 3");
    EXPECT_EQ(atk_object_get_role(hat), ATK_ROLE_CHECK_BOX);
    EXPECT_EQ(focused(editor), std::make_pair(0, 0));
    EXPECT_TRUE(platform.sent.empty()) << "building the grid made a sound";
}

// A click toggles the box under the pointer, previews its note once and
// walks the focus on along the row; the space bar toggles the focused box;
// arrows and Tab move from box to box; assistive technology's click and
// extents reach the same box, and the boxes an Apply drops say they are gone.
TEST_F(Editor, BoxesAnswerMouseKeysAndAssistiveTechnology)
{
    open_window();
    SpriteWindow& editor = present(0);
    ASSERT_TRUE(stepmill_test::show_focused(editor));
    Sprite& sprite = window->song.sprites[0];
    NoteGrid& grid = editor.note_grid;

    Gdk::Rectangle area = editor.rows[8]->buttons[2]->area();
    for (GdkEventType type : {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
        GdkEvent* event = gdk_event_new(type);
        event->button.window = GDK_WINDOW(g_object_ref(grid.get_window()->gobj()));
        event->button.button = 1;
        event->button.x = area.get_x() + area.get_width() / 2.0;
        event->button.y = area.get_y() + area.get_height() / 2.0;
        gdk_event_set_device(event, gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default())));
        gtk_main_do_event(event);
        gdk_event_free(event);
    }
    EXPECT_TRUE(sprite.notes[2].test(42));
    ASSERT_EQ(platform.sent.size(), 1u);
    EXPECT_EQ(platform.sent[0].bytes, (std::vector<unsigned char>{0x99, 42, 127})) << "the preview";
    EXPECT_EQ(focused(editor), std::make_pair(8, 3)) << "the focus walks on from the clicked box";

    struct Key { guint keyval; std::pair<int, int> to; };
    const std::vector<Key> keys = {
        {GDK_KEY_space, {8, 4}}, {GDK_KEY_Down, {9, 4}}, {GDK_KEY_Left, {9, 3}},
        {GDK_KEY_Up, {8, 3}},    {GDK_KEY_Right, {8, 4}}, {GDK_KEY_Tab, {8, 5}},
    };
    for (const Key& k : keys) {
        press(k.keyval, GdkModifierType(0), &editor);
        EXPECT_EQ(focused(editor), k.to) << gdk_keyval_name(k.keyval);
    }
    EXPECT_TRUE(sprite.notes[3].test(42)) << "the space bar";

    // Off is silent and clears the note; on the last beat the focus stays.
    platform.sent.clear();
    editor.rows[8]->buttons[3]->clicked();
    EXPECT_FALSE(sprite.notes[3].test(42));
    EXPECT_TRUE(platform.sent.empty());
    editor.rows[33]->buttons[7]->clicked();
    EXPECT_EQ(platform.sent.back().bytes, (std::vector<unsigned char>{0x99, 75, 127}));
    EXPECT_EQ(focused(editor), std::make_pair(33, 7));
    press(GDK_KEY_Tab, GdkModifierType(0), &editor);
    EXPECT_EQ(focused(editor), std::make_pair(-1, -1)) << "Tab at the last box leaves the grid";

    AtkObject* snare = editor.rows[3]->buttons[0]->accessible();
    EXPECT_TRUE(atk_action_do_action(ATK_ACTION(snare), 0));
    EXPECT_TRUE(sprite.notes[0].test(38));
    gint x, y, w, h, gx, gy, gw, gh;
    atk_component_get_extents(ATK_COMPONENT(snare), &x, &y, &w, &h, ATK_XY_SCREEN);
    atk_component_get_extents(ATK_COMPONENT(gtk_widget_get_accessible(GTK_WIDGET(grid.gobj()))), &gx, &gy, &gw,
                              &gh, ATK_XY_SCREEN);
    area = editor.rows[3]->buttons[0]->area();
    EXPECT_EQ(Gdk::Rectangle(x - gx, y - gy, w, h), area);

    g_object_ref(snare);
    editor.beats_spin.set_value(4);
    respond(editor, Gtk::RESPONSE_APPLY);
    AtkStateSet* states = atk_object_ref_state_set(snare);
    EXPECT_TRUE(atk_state_set_contains_state(states, ATK_STATE_DEFUNCT));
    g_object_unref(states);
    g_object_unref(snare);
}

// Apply rebuilds the grid at the spin's beat count: shortening drops the cut
// beats, so lengthening again brings them back silent.
TEST_F(Editor, ApplyChangesTheBeats)
{
    open_window();
    Sprite& sprite = window->song.sprites[3];
    sprite.set_beats(16);
    for (uint64_t b = 0; b < 16; ++b)
        sprite.notes[b].set(38);
    SpriteWindow& editor = present(3);
    struct Step { double spin; uint64_t beats; int active; };
    for (const Step& s : std::vector<Step>{{16, 16, 16}, {8, 8, 8}, {16, 16, 8}, {1, 1, 1}}) {
        SCOPED_TRACE("apply " + std::to_string(s.spin));
        editor.beats_spin.set_value(s.spin);
        respond(editor, Gtk::RESPONSE_APPLY);
        EXPECT_EQ(sprite.beats, s.beats);
        EXPECT_EQ(editor.rows[33]->buttons.size(), s.beats);
        EXPECT_EQ(editor.note_grid.beat_count(), s.beats);
        EXPECT_EQ(active_count(editor), s.active);
    }
    EXPECT_TRUE(platform.sent.empty());
}

// Sprites a file gives: more beats than the spin allows, none at all, and a
// note the grid has no row for, which every edit and Apply keeps.
TEST_F(Editor, SpritesFromAFile)
{
    open_with("bpm: 120\nsprites: 2\nbeats: 40\ncolor: 1, 2, 3\nbeat: 0 57 36\nbeat: 39 36\nsprite end\n"
              "beats: 0\ncolor: 1, 2, 3\nsprite end\n");
    SpriteWindow& long_one = present(0);
    EXPECT_EQ(long_one.beats_spin.get_value_as_int(), 32);
    EXPECT_EQ(long_one.rows[1]->buttons.size(), 40u);
    EXPECT_TRUE(long_one.rows[1]->buttons[39]->get_active());
    long_one.rows[1]->buttons[0]->clicked();   // off
    long_one.rows[0]->buttons[0]->clicked();   // on
    respond(long_one, Gtk::RESPONSE_APPLY);
    const Sprite& sprite = window->song.sprites[0];
    EXPECT_EQ(sprite.beats, 32u);
    EXPECT_EQ(long_one.rows[0]->buttons.size(), 32u);
    EXPECT_TRUE(sprite.notes[0].test(57) && sprite.notes[0].test(35) && !sprite.notes[0].test(36));

    SpriteWindow& empty = present(1);
    EXPECT_EQ(empty.beats_spin.get_value_as_int(), 1);
    for (auto* row : empty.rows) {
        EXPECT_TRUE(row->buttons.empty());
        EXPECT_TRUE(row->label.get_visible());
    }
    EXPECT_NE(empty.get_focus(), &empty.note_grid);
    EXPECT_FALSE(empty.note_grid.get_can_focus()) << "no box to take the focus";
}

// Play/stop stops whatever plays, the sequence included, and otherwise
// loops this editor's sprite; Close hides the editor and leaves it playing.
TEST_F(Editor, PlayStop)
{
    open_window();
    window->song.sequence = {0, 1, 2};
    window->on_play_stop_clicked();
    EXPECT_TRUE(window->player.is_playing());
    SpriteWindow& editor = present(2);
    respond(editor, response_play_stop);
    EXPECT_FALSE(window->player.is_playing());
    window->song.sprites[2].notes[0].set(40);
    const size_t before = platform.sent.size();
    respond(editor, response_play_stop);
    EXPECT_TRUE(window->player.is_playing());
    platform.advance(64);
    ASSERT_GT(platform.sent.size(), before);
    EXPECT_EQ(platform.sent.back().bytes, (std::vector<unsigned char>{0x99, 40, 127})) << "sprite 2 loops";
    respond(editor, Gtk::RESPONSE_CLOSE);
    EXPECT_FALSE(editor.get_visible());
    EXPECT_TRUE(window->player.is_playing());
}

// The window manager's close hides the editor and keeps it, with a spin
// value that was never applied; presented again it works.
TEST_F(Editor, ClosingHidesAndKeeps)
{
    open_window();
    SpriteWindow& editor = present(4);
    editor.beats_spin.set_value(12);
    GdkEvent* event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(editor.get_window()->gobj()));
    gtk_main_do_event(event);
    gdk_event_free(event);
    stepmill_test::settle();
    EXPECT_FALSE(editor.get_visible());
    EXPECT_EQ(&present(4), &editor);
    EXPECT_EQ(editor.beats_spin.get_value_as_int(), 12);
    editor.rows[8]->buttons[0]->clicked();
    EXPECT_TRUE(window->song.sprites[4].notes[0].test(42));
}

// Editors are built when first presented; after the views are rebuilt for a
// new song only those come back, hidden, for the new song's sprites.
TEST_F(Editor, BuiltWhenPresentedAndRebuiltHidden)
{
    open_window();
    EXPECT_EQ(std::count(window->sprite_windows.begin(), window->sprite_windows.end(), nullptr), 36);
    present(7);
    present(30);
    window->song.reset_sprites(20);
    window->song.sprites[7].set_beats(5);
    window->clear_song_views();
    window->build_song_views();
    ASSERT_EQ(window->sprite_windows.size(), 20u);
    for (uint64_t i = 0; i < 20; ++i)
        EXPECT_EQ(window->sprite_windows[i] != nullptr, i == 7) << i;
    SpriteWindow* editor = window->sprite_windows[7];
    EXPECT_FALSE(editor->get_visible());
    EXPECT_EQ(editor->sprite, &window->song.sprites[7]);
    EXPECT_EQ(editor->rows[0]->buttons.size(), 5u);
    window->present_sprite_window(25);   // beyond the new song: nothing
}

}  // namespace
