// The sprite editor in a real main window: the grid against the drum table,
// the preview note and focus walk, Apply, play/stop and closing.
#include "gtk_test.h"
#include "main_window.h"
#include "midi_memory_platform.h"
#include "program.h"
#include "sprite_window.h"

#include <atk/atk.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gdk/gdkkeysyms.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

using namespace stepmill;

namespace {

class Editor : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(stepmill_test::open_memory_port(platform));
        application = stepmill_test::make_application();
    }
    void TearDown() override {
        window.reset();
        midi_out.reset();
        if (!song_path.empty())
            std::remove(song_path.c_str());
    }

    void open_window(const std::string& song_text = "") {
        if (!song_text.empty()) {
            song_path = testing::TempDir() + "editor_" +
                        testing::UnitTest::GetInstance()->current_test_info()->name() + ".trm";
            std::ofstream(song_path) << song_text;
        }
        window = stepmill_test::make_window(application, song_path);
        ASSERT_TRUE(stepmill_test::show_focused(*window));
    }

    SpriteWindow& present(uint64_t i) {
        window->present_sprite_window(i);
        stepmill_test::settle_frame(*window->sprite_windows[i]);
        return *window->sprite_windows[i];
    }

    static void press(SpriteWindow& editor, int response) {
        auto* button = dynamic_cast<Gtk::Button*>(editor.get_widget_for_response(response));
        ASSERT_NE(button, nullptr);
        button->clicked();
        stepmill_test::settle();
    }

    static int active_count(SpriteWindow& editor) {
        int n = 0;
        for (auto* row : editor.rows)
            for (auto* button : row->buttons)
                n += button->get_active();
        return n;
    }

    midi_memory_platform_t platform;
    Glib::RefPtr<Gtk::Application> application;
    std::unique_ptr<MainWindow> window;
    std::string song_path;
};

// A row of the grid: its label where the table puts it, its boxes on the
// label's pixels, their states from the sprite's notes, each a check box
// named for assistive technology.
TEST_F(Editor, GridShowsTheDrumTableInOrder) {
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
    int previous_bottom = 0;
    for (uint64_t r = 0; r < editor.rows.size(); ++r) {
        SCOPED_TRACE("row " + std::to_string(r));
        auto* row = editor.rows[r];
        EXPECT_EQ(row->label.get_text(), drum_note_table[r].name);
        EXPECT_EQ(editor.grid.get_child_at(0, static_cast<int>(r)), &row->label);
        int label_x = 0, label_y = 0;
        ASSERT_TRUE(row->label.translate_coordinates(editor.note_grid, 0, 0, label_x, label_y));
        ASSERT_EQ(row->buttons.size(), 8u);
        for (uint64_t b = 0; b < 8; ++b) {
            NoteCell* button = row->buttons[b];
            Gdk::Rectangle area = button->area();
            EXPECT_EQ(area.get_y(), label_y) << "beat " << b;
            EXPECT_EQ(area.get_height(), row->label.get_allocated_height()) << "beat " << b;
            EXPECT_GT(area.get_width(), 10) << "beat " << b;
            EXPECT_EQ(button->get_active(), sprite.notes[b].test(drum_note_table[r].note)) << "beat " << b;
            AtkObject* box = button->accessible();
            EXPECT_EQ(Glib::ustring(atk_object_get_name(box)),
                      Glib::ustring(drum_note_table[r].name) + " " + std::to_string(b + 1));
            EXPECT_EQ(atk_object_get_role(box), ATK_ROLE_CHECK_BOX);
            AtkStateSet* states = atk_object_ref_state_set(box);
            EXPECT_EQ(atk_state_set_contains_state(states, ATK_STATE_CHECKED) != FALSE, button->get_active());
            EXPECT_TRUE(atk_state_set_contains_state(states, ATK_STATE_SHOWING));
            g_object_unref(states);
            AtkObject* child = atk_object_ref_accessible_child(grid, static_cast<gint>(r * 8 + b));
            EXPECT_EQ(child, box);
            g_object_unref(child);
        }
        EXPECT_GE(label_y, previous_bottom) << "rows overlap";
        previous_bottom = label_y + row->label.get_allocated_height();
    }
    EXPECT_EQ(active_count(editor), 3);
    EXPECT_STREQ(atk_object_get_name(editor.rows[8]->buttons[2]->accessible()), "クローズド・ハイハット 3");
    EXPECT_TRUE(editor.rows[0]->buttons[0]->is_focus());
    EXPECT_TRUE(platform.sent.empty()) << "building the grid made a sound";
}

// The boxes as a user meets them: a mouse click toggles the box under it and
// takes the focus there; the space bar toggles the focused box; the arrows
// and Tab move the focus from box to box and, past the edge, out of the grid;
// assistive technology's click and extents reach the same box.
TEST_F(Editor, BoxesAnswerMouseKeysAndAssistiveTechnology) {
    open_window();
    SpriteWindow& editor = present(0);
    ASSERT_TRUE(stepmill_test::show_focused(editor));
    Sprite& sprite = window->song.sprites[0];
    NoteGrid& grid = editor.note_grid;

    auto click = [&](uint64_t row, uint64_t beat) {
        Gdk::Rectangle area = editor.rows[row]->buttons[beat]->area();
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
        stepmill_test::settle();
    };
    auto key = [&](guint keyval) {
        GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
        event->key.window = GDK_WINDOW(g_object_ref(editor.get_window()->gobj()));
        event->key.keyval = keyval;
        // Key bindings (the focus keys) match the hardware key, as for a real press.
        GdkKeymapKey* keys = nullptr;
        gint n = 0;
        if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gdk_display_get_default()), keyval, &keys, &n) &&
            n > 0)
            event->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
        g_free(keys);
        gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
        gtk_main_do_event(event);
        gdk_event_free(event);
        stepmill_test::settle();
    };
    auto focused_box = [&]() -> std::pair<int, int> {
        for (uint64_t r = 0; r < 34; ++r)
            for (uint64_t b = 0; b < 8; ++b)
                if (editor.rows[r]->buttons[b]->is_focus())
                    return {static_cast<int>(r), static_cast<int>(b)};
        return {-1, -1};
    };

    click(8, 2);   // closed hi-hat, beat 3
    EXPECT_TRUE(sprite.notes[2].test(42));
    ASSERT_EQ(platform.sent.size(), 1u);
    EXPECT_EQ(platform.sent[0].bytes, (std::vector<unsigned char>{0x99, 42, 127}));
    EXPECT_EQ(focused_box(), std::make_pair(8, 3)) << "the focus walks on from the clicked box";
    key(GDK_KEY_space);
    EXPECT_TRUE(sprite.notes[3].test(42));
    EXPECT_EQ(focused_box(), std::make_pair(8, 4));

    struct Move { guint keyval; std::pair<int, int> to; };
    const std::vector<Move> moves = {
        {GDK_KEY_Down, {9, 4}}, {GDK_KEY_Left, {9, 3}}, {GDK_KEY_Up, {8, 3}}, {GDK_KEY_Right, {8, 4}},
        {GDK_KEY_Tab, {8, 5}},
    };
    for (const Move& m : moves) {
        key(m.keyval);
        EXPECT_EQ(focused_box(), m.to) << gdk_keyval_name(m.keyval);
    }
    editor.rows[33]->buttons[7]->grab_focus();
    key(GDK_KEY_Tab);
    EXPECT_EQ(focused_box(), std::make_pair(-1, -1)) << "Tab at the last box leaves the grid";
    EXPECT_NE(editor.get_focus(), &grid);

    AtkObject* snare = editor.rows[3]->buttons[0]->accessible();
    ASSERT_TRUE(ATK_IS_ACTION(snare));
    platform.sent.clear();
    EXPECT_TRUE(atk_action_do_action(ATK_ACTION(snare), 0));
    EXPECT_TRUE(sprite.notes[0].test(38));
    EXPECT_EQ(platform.sent.size(), 1u);
    AtkStateSet* states = atk_object_ref_state_set(snare);
    EXPECT_TRUE(atk_state_set_contains_state(states, ATK_STATE_CHECKED));
    g_object_unref(states);
    gint x, y, w, h, gx, gy, gw, gh;
    atk_component_get_extents(ATK_COMPONENT(snare), &x, &y, &w, &h, ATK_XY_SCREEN);
    atk_component_get_extents(ATK_COMPONENT(gtk_widget_get_accessible(GTK_WIDGET(grid.gobj()))), &gx, &gy, &gw, &gh,
                              ATK_XY_SCREEN);
    Gdk::Rectangle area = editor.rows[3]->buttons[0]->area();
    EXPECT_EQ(x - gx, area.get_x());
    EXPECT_EQ(y - gy, area.get_y());
    EXPECT_EQ(w, area.get_width());

    // Apply drops the old boxes: their accessible objects say so.
    g_object_ref(snare);
    editor.beats_spin.set_value(4);
    press(editor, Gtk::RESPONSE_APPLY);
    states = atk_object_ref_state_set(snare);
    EXPECT_TRUE(atk_state_set_contains_state(states, ATK_STATE_DEFUNCT));
    g_object_unref(states);
    g_object_unref(snare);
    EXPECT_EQ(atk_object_get_n_accessible_children(gtk_widget_get_accessible(GTK_WIDGET(grid.gobj()))), 34 * 4);
}

// Toggling on previews the note once and sets it; off is silent and clears
// it; either way the focus walks on along the row and stays on the last beat.
TEST_F(Editor, ToggleSendsPreviewSetsNoteAndWalksFocus) {
    open_window();
    SpriteWindow& editor = present(0);
    Sprite& sprite = window->song.sprites[0];
    struct Case { uint64_t row, beat; bool on; uint64_t focus_beat; };
    const std::vector<Case> cases = {
        {0, 0, true, 1},  {0, 0, false, 1},  {8, 3, true, 4}, {33, 7, true, 7},
        {33, 7, false, 7}, {12, 6, true, 7}, {8, 3, false, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("row " + std::to_string(c.row) + " beat " + std::to_string(c.beat));
        uint8_t note = drum_note_table[c.row].note;
        platform.sent.clear();
        editor.rows[c.row]->buttons[c.beat]->clicked();
        stepmill_test::settle();
        EXPECT_EQ(sprite.notes[c.beat].test(note), c.on);
        if (c.on) {
            ASSERT_EQ(platform.sent.size(), 1u);
            EXPECT_EQ(platform.sent[0].bytes, (std::vector<unsigned char>{0x99, note, 127}));
        } else {
            EXPECT_TRUE(platform.sent.empty());
        }
        EXPECT_TRUE(editor.rows[c.row]->buttons[c.focus_beat]->is_focus());
    }
    // Only row 12, beat 6 is left on.
    for (uint64_t b = 0; b < 8; ++b)
        for (uint64_t r = 0; r < 34; ++r)
            EXPECT_EQ(sprite.notes[b].test(drum_note_table[r].note), r == 12 && b == 6);
}

// Apply rebuilds the grid at the spin's beat count; shortening drops the
// cut beats, so lengthening again brings them back silent.
TEST_F(Editor, ApplyChangesTheBeats) {
    open_window();
    Sprite& sprite = window->song.sprites[3];
    sprite.set_beats(16);
    for (uint64_t b = 0; b < 16; ++b)
        sprite.notes[b].set(38);
    SpriteWindow& editor = present(3);
    struct Step { double spin; uint64_t beats; int active; };
    const std::vector<Step> steps = {{16, 16, 16}, {8, 8, 8}, {16, 16, 8}, {1, 1, 1}};
    for (const Step& s : steps) {
        SCOPED_TRACE("apply " + std::to_string(s.spin));
        editor.beats_spin.set_value(s.spin);
        press(editor, Gtk::RESPONSE_APPLY);
        EXPECT_EQ(sprite.beats, s.beats);
        ASSERT_EQ(editor.rows.size(), 34u);
        for (auto* row : editor.rows)
            ASSERT_EQ(row->buttons.size(), s.beats);
        EXPECT_EQ(editor.note_grid.beat_count(), s.beats);
        EXPECT_TRUE(editor.note_grid.get_visible());
        EXPECT_EQ(active_count(editor), s.active);
        for (uint64_t b = 0; b < s.beats; ++b)
            EXPECT_EQ(sprite.notes[b].test(38), static_cast<int>(b) < s.active) << "beat " << b;
    }
    EXPECT_TRUE(platform.sent.empty());
}

// Sprites a file gives: more beats than the spin allows, none at all, and a
// note the grid has no row for, which every edit and Apply keeps.
TEST_F(Editor, SpritesFromAFile) {
    std::string text = "bpm: 120\nsprites: 2\nbeats: 40\ncolor: 1, 2, 3\nbeat: 0 57 36\nbeat: 39 36\nsprite end\n"
                       "beats: 0\ncolor: 1, 2, 3\nsprite end\n";
    open_window(text);
    ASSERT_EQ(window->song.sprites.size(), 2u);
    ASSERT_EQ(window->song.sprites[0].beats, 40u);
    ASSERT_EQ(window->song.sprites[1].beats, 0u);

    SpriteWindow& long_one = present(0);
    EXPECT_EQ(long_one.beats_spin.get_value_as_int(), 32);
    EXPECT_EQ(long_one.rows[1]->buttons.size(), 40u);
    EXPECT_TRUE(long_one.rows[1]->buttons[39]->get_active());
    long_one.rows[1]->buttons[0]->clicked();   // off
    long_one.rows[0]->buttons[0]->clicked();   // on
    press(long_one, Gtk::RESPONSE_APPLY);
    Sprite& sprite = window->song.sprites[0];
    EXPECT_EQ(sprite.beats, 32u);
    EXPECT_EQ(long_one.rows[0]->buttons.size(), 32u);
    EXPECT_TRUE(sprite.notes[0].test(57));
    EXPECT_TRUE(sprite.notes[0].test(35));
    EXPECT_FALSE(sprite.notes[0].test(36));

    SpriteWindow& empty = present(1);
    EXPECT_EQ(empty.beats_spin.get_value_as_int(), 1);
    ASSERT_EQ(empty.rows.size(), 34u);
    for (uint64_t r = 0; r < 34; ++r) {
        EXPECT_TRUE(empty.rows[r]->buttons.empty());
        EXPECT_EQ(empty.rows[r]->label.get_text(), drum_note_table[r].name);
        EXPECT_TRUE(empty.rows[r]->label.get_visible());
    }
    EXPECT_NE(empty.get_focus(), &empty.note_grid);
    EXPECT_FALSE(empty.note_grid.get_can_focus()) << "no box to take the focus";
}

// Play/stop stops whatever plays, the sequence included, and otherwise
// loops this editor's sprite.
TEST_F(Editor, PlayStopStopsTheSequenceThenLoopsTheSprite) {
    open_window();
    window->song.sequence = {0, 1, 2};
    window->song.sprites[2].notes[0].set(36);
    window->on_play_stop_clicked();
    ASSERT_TRUE(window->player.is_playing());
    SpriteWindow& editor = present(2);
    press(editor, response_play_stop);
    EXPECT_FALSE(window->player.is_playing());
    press(editor, response_play_stop);
    EXPECT_TRUE(window->player.is_playing());
    EXPECT_EQ(window->player.mode, SingleSprite);
    EXPECT_EQ(window->player.sprite_index, 2u);
    // Closing the editor leaves it playing.
    press(editor, Gtk::RESPONSE_CLOSE);
    EXPECT_TRUE(window->player.is_playing());
    press(editor, response_play_stop);
    EXPECT_FALSE(window->player.is_playing());
}

// Close and the window manager's close both hide the editor and keep it,
// with a spin value that was never applied.
TEST_F(Editor, ClosingHidesAndKeeps) {
    open_window();
    for (bool from_manager : {false, true}) {
        SCOPED_TRACE(from_manager ? "window manager" : "Close");
        SpriteWindow& editor = present(4);
        SpriteWindow* before = &editor;
        editor.beats_spin.set_value(12);
        if (from_manager) {
            GdkEvent* event = gdk_event_new(GDK_DELETE);
            event->any.window = GDK_WINDOW(g_object_ref(editor.get_window()->gobj()));
            event->any.send_event = TRUE;
            gtk_main_do_event(event);
            gdk_event_free(event);
        } else {
            press(editor, Gtk::RESPONSE_CLOSE);
        }
        stepmill_test::settle();
        EXPECT_FALSE(editor.get_visible());
        EXPECT_EQ(window->sprite_windows[4], before);
        EXPECT_EQ(editor.beats_spin.get_value_as_int(), 12);
        EXPECT_EQ(window->song.sprites[4].beats, 8u);
        // Presented again, it is the same editor, working.
        EXPECT_EQ(&present(4), before);
        EXPECT_TRUE(editor.get_visible());
        editor.rows[8]->buttons[0]->clicked();
        EXPECT_TRUE(window->song.sprites[4].notes[0].test(42));
        editor.rows[8]->buttons[0]->clicked();
    }
}

// Editors are built when first presented; after the views are rebuilt for a
// new song only those come back, hidden, and for the new song's sprites.
TEST_F(Editor, BuiltWhenPresentedAndRebuiltHidden) {
    open_window();
    ASSERT_EQ(window->sprite_windows.size(), 36u);
    for (SpriteWindow* editor : window->sprite_windows)
        EXPECT_EQ(editor, nullptr);
    present(7);
    present(30);
    window->song.reset_sprites(20);
    window->song.sprites[7].set_beats(5);
    window->clear_song_views();
    window->build_song_views();
    ASSERT_EQ(window->sprite_windows.size(), 20u);
    for (uint64_t i = 0; i < 20; ++i) {
        SCOPED_TRACE("sprite " + std::to_string(i));
        SpriteWindow* editor = window->sprite_windows[i];
        if (i != 7) {
            EXPECT_EQ(editor, nullptr);
            continue;
        }
        ASSERT_NE(editor, nullptr);
        EXPECT_FALSE(editor->get_visible());
        EXPECT_EQ(editor->sprite, &window->song.sprites[7]);
        EXPECT_EQ(editor->rows[0]->buttons.size(), 5u);
    }
    window->present_sprite_window(25);   // beyond the new song: nothing
    SpriteWindow& editor = present(7);
    EXPECT_TRUE(editor.get_visible());
}

}  // namespace
