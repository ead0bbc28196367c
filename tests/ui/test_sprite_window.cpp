// The sprite editor in a real main window: the grid against the drum table,
// its boxes under mouse, keys and assistive technology, the preview note and
// focus walk, Apply, play/stop and closing.
#include "gtk_test.h"

#include <gtkmm/grid.h>

using namespace stepmill_test;

namespace {

class Editor : public WindowTest {
protected:
    void open_with(const std::string& song) { open_window(write_file("editor.trm", song)); }
    static Gtk::SpinButton& beats(SpriteWindow& e) { return find_one<Gtk::SpinButton>(e); }
    // The row labels, top to bottom.
    static std::vector<Gtk::Label*> labels(SpriteWindow& e)
    {
        std::vector<Gtk::Label*> rows;
        auto& grid = find_one<Gtk::Grid>(e);
        for (int r = 0; auto* label = dynamic_cast<Gtk::Label*>(grid.get_child_at(0, r)); ++r)
            rows.push_back(label);
        return rows;
    }
    static void respond(SpriteWindow& editor, int response)
    {
        dynamic_cast<Gtk::Button*>(editor.get_widget_for_response(response))->clicked();
        settle();
    }
    // The box the focus is on, as (row, beat), or (-1, -1).
    static std::pair<int, int> focused(NoteGrid& g)
    {
        for (uint64_t r = 0; r < g.row_count(); ++r)
            for (uint64_t b = 0; b < g.beat_count(); ++b)
                if (g.box_is_focus(r, b))
                    return {static_cast<int>(r), static_cast<int>(b)};
        return {-1, -1};
    }
};

// Sprites a file gives. Sprite 1, of 8 beats: each row its label where the
// table puts it, its boxes on the label's pixels with states from the
// sprite's notes, each an accessible check box named for the instrument and
// the beat; building makes no sound. Sprite 0: more beats than the spin
// allows, and a note the grid has no row for, which every edit and Apply
// keeps. Sprite 2: no beats at all.
TEST_F(Editor, SpritesFromAFile)
{
    // Sprite 1: a kick on beat 0, a closed hi-hat (row 8) on beat 2, claves
    // (the last row) on beat 7.
    open_with("bpm: 120\nsprites: 3\nbeats: 40\ncolor: 1, 2, 3\nbeat: 0 57 36\nbeat: 39 36\nsprite end\n"
              "beats: 8\nbeat: 0 35\nbeat: 2 42\nbeat: 7 75\nsprite end\nbeats: 0\ncolor: 1, 2, 3\nsprite end\n");
    SpriteWindow& drums = editor(1);
    NoteGrid& boxes = find_one<NoteGrid>(drums);
    std::vector<Gtk::Label*> rows = labels(drums);
    ASSERT_EQ(rows.size(), 34u);
    ASSERT_EQ(boxes.beat_count(), 8u);
    AtkObject* grid_accessible = gtk_widget_get_accessible(GTK_WIDGET(boxes.gobj()));
    ASSERT_EQ(atk_object_get_n_accessible_children(grid_accessible), 34 * 8);
    int active = 0;
    for (uint64_t r = 0; r < 34; ++r) {
        SCOPED_TRACE("row " + std::to_string(r));
        EXPECT_EQ(rows[r]->get_text(), drum_note_table[r].name);
        int label_x = 0, label_y = 0;
        ASSERT_TRUE(rows[r]->translate_coordinates(boxes, 0, 0, label_x, label_y));
        for (uint64_t b = 0; b < 8; ++b) {
            EXPECT_EQ(boxes.box_area(r, b).get_y(), label_y);
            EXPECT_EQ(boxes.box_area(r, b).get_height(), rows[r]->get_allocated_height());
            EXPECT_EQ(boxes.get_active(r, b), notes(1, b).test(drum_note_table[r].note)) << "beat " << b;
            AtkObject* box = atk_object_ref_accessible_child(grid_accessible, static_cast<gint>(r * 8 + b));
            EXPECT_EQ(box, boxes.box_accessible(r, b));
            EXPECT_EQ(Glib::ustring(atk_object_get_name(box)), note_button_name(r, b));
            EXPECT_EQ(atk_object_get_role(box), ATK_ROLE_CHECK_BOX);
            AtkStateSet* states = atk_object_ref_state_set(box);
            active += atk_state_set_contains_state(states, ATK_STATE_CHECKED);
            g_object_unref(states);
            g_object_unref(box);
        }
    }
    EXPECT_EQ(active, 3) << "checked as assistive technology sees them";
    EXPECT_EQ(focused(boxes), std::make_pair(0, 0));
    EXPECT_TRUE(platform.sent.empty()) << "building the grid made a sound";

    SpriteWindow& long_one = editor(0);
    NoteGrid& long_grid = find_one<NoteGrid>(long_one);
    EXPECT_EQ(beats(long_one).get_value_as_int(), 32);
    EXPECT_EQ(long_grid.beat_count(), 40u);
    EXPECT_TRUE(long_grid.get_active(1, 39));
    long_grid.toggle(1, 0);   // off
    long_grid.toggle(0, 0);   // on
    respond(long_one, Gtk::RESPONSE_APPLY);
    EXPECT_EQ(window->document().song().sprites[0].beats, 32u);
    EXPECT_EQ(long_grid.beat_count(), 32u);
    EXPECT_TRUE(notes(0, 0).test(57) && notes(0, 0).test(35) && !notes(0, 0).test(36));

    SpriteWindow& empty = editor(2);
    EXPECT_EQ(beats(empty).get_value_as_int(), 1);
    EXPECT_EQ(grid(2).beat_count(), 0u);
    for (Gtk::Label* row : labels(empty))
        EXPECT_TRUE(row->get_visible());
    EXPECT_NE(empty.get_focus(), &grid(2));
    EXPECT_FALSE(grid(2).get_can_focus()) << "no box to take the focus";
}

// A click toggles the box under the pointer, previews its note once and
// walks the focus on along the row; the space bar toggles the focused box;
// arrows and Tab move from box to box; assistive technology's click and
// extents reach the same box, and the boxes an Apply drops say they are gone.
TEST_F(Editor, BoxesAnswerMouseKeysAndAssistiveTechnology)
{
    open_window();
    SpriteWindow& editor = this->editor(0);
    ASSERT_TRUE(show_focused(editor));
    NoteGrid& boxes = find_one<NoteGrid>(editor);

    for (GdkEventType type : {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE})
        pointer(boxes, type, boxes.box_area(8, 2));
    EXPECT_TRUE(notes(0, 2).test(42));
    ASSERT_EQ(platform.sent.size(), 1u);
    EXPECT_EQ(platform.sent[0].bytes, (std::vector<unsigned char>{0x99, 42, 127})) << "the preview";
    EXPECT_EQ(focused(boxes), std::make_pair(8, 3)) << "the focus walks on from the clicked box";

    struct Key { guint keyval; std::pair<int, int> to; };
    const std::vector<Key> keys = {
        {GDK_KEY_space, {8, 4}}, {GDK_KEY_Down, {9, 4}}, {GDK_KEY_Left, {9, 3}},
        {GDK_KEY_Up, {8, 3}},    {GDK_KEY_Right, {8, 4}}, {GDK_KEY_Tab, {8, 5}},
    };
    for (const Key& k : keys) {
        press(k.keyval, GdkModifierType(0), &editor);
        EXPECT_EQ(focused(boxes), k.to) << gdk_keyval_name(k.keyval);
    }
    EXPECT_TRUE(notes(0, 3).test(42)) << "the space bar";

    // Off is silent and clears the note; on the last beat the focus stays.
    platform.sent.clear();
    boxes.toggle(8, 3);
    EXPECT_FALSE(notes(0, 3).test(42));
    EXPECT_TRUE(platform.sent.empty());
    boxes.toggle(33, 7);
    EXPECT_EQ(platform.sent.back().bytes, (std::vector<unsigned char>{0x99, 75, 127}));
    EXPECT_EQ(focused(boxes), std::make_pair(33, 7));
    press(GDK_KEY_Tab, GdkModifierType(0), &editor);
    EXPECT_EQ(focused(boxes), std::make_pair(-1, -1)) << "Tab at the last box leaves the grid";

    AtkObject* snare = boxes.box_accessible(3, 0);
    EXPECT_TRUE(atk_action_do_action(ATK_ACTION(snare), 0));
    EXPECT_TRUE(notes(0, 0).test(38));
    gint x, y, w, h, gx, gy, gw, gh;
    atk_component_get_extents(ATK_COMPONENT(snare), &x, &y, &w, &h, ATK_XY_SCREEN);
    atk_component_get_extents(ATK_COMPONENT(gtk_widget_get_accessible(GTK_WIDGET(boxes.gobj()))), &gx, &gy, &gw,
                              &gh, ATK_XY_SCREEN);
    EXPECT_EQ(Gdk::Rectangle(x - gx, y - gy, w, h), boxes.box_area(3, 0));

    g_object_ref(snare);
    beats(editor).set_value(4);
    respond(editor, Gtk::RESPONSE_APPLY);
    AtkStateSet* states = atk_object_ref_state_set(snare);
    EXPECT_TRUE(atk_state_set_contains_state(states, ATK_STATE_DEFUNCT));
    g_object_unref(states);
    g_object_unref(snare);
}

// Play/stop stops whatever plays, the sequence included, and otherwise
// loops this editor's sprite; the window manager's close hides the editor
// and leaves it playing, and keeps it with a spin value never applied:
// presented again it works.
TEST_F(Editor, PlayStopAndClosing)
{
    open_with("sprites: 3\nbeats: 8\nsprite end\nbeats: 8\nsprite end\nbeats: 8\nbeat: 0 40\nsprite end\nsequence: 0 1 2\n");
    play_button().clicked();
    SpriteWindow& editor = this->editor(2);
    respond(editor, response_play_stop);   // stops the sequence
    platform.advance(64);
    const size_t before = platform.sent.size();
    platform.advance(96000);
    EXPECT_EQ(platform.sent.size(), before) << "stopped";
    respond(editor, response_play_stop);
    platform.advance(64);
    EXPECT_EQ(platform.sent.back().bytes, (std::vector<unsigned char>{0x99, 40, 127})) << "sprite 2 loops";

    beats(editor).set_value(12);
    GdkEvent* event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(editor.get_window()->gobj()));
    gtk_main_do_event(event);
    gdk_event_free(event);
    settle();
    EXPECT_FALSE(editor.get_visible());
    platform.advance(96000);
    EXPECT_EQ(platform.sent.back().bytes, (std::vector<unsigned char>{0x99, 40, 127})) << "still playing";
    EXPECT_EQ(&this->editor(2), &editor);
    EXPECT_EQ(beats(editor).get_value_as_int(), 12);
    grid(2).toggle(8, 0);
    EXPECT_TRUE(notes(2, 0).test(42));
}

// Velocities stepped by the keys, the scroll wheel and a Control-click, told
// by the box's accessible name; while the sprite plays, the beat heard is lit.
TEST_F(Editor, VelocitiesAndThePlayingStep)
{
    open_with("bpm: 240\nsprites: 1\nbeats: 4\nbeat: 0 42\nbeat: 1 42\nbeat: 2 42\nbeat: 3 42\nsprite end\n");
    SpriteWindow& editor = this->editor(0);
    NoteGrid& boxes = find_one<NoteGrid>(editor);
    boxes.focus_box(8, 1);
    press(GDK_KEY_minus, GdkModifierType(0), &editor);
    for (auto [beat, direction] : {std::pair{2, GDK_SCROLL_DOWN}, {2, GDK_SCROLL_DOWN}, {3, GDK_SCROLL_DOWN},
                                   {3, GDK_SCROLL_UP}, {3, GDK_SCROLL_UP}})   // no higher than full
        pointer(boxes, GDK_SCROLL, boxes.box_area(8, uint64_t(beat)), 0, direction);
    struct { uint64_t beat; uint8_t velocity; const char* name; } expected[] = {
        {0, 127, "クローズド・ハイハット 1"}, {1, 96, "クローズド・ハイハット 2, 96"},
        {2, 48, "クローズド・ハイハット 3, 48"}, {3, 127, "クローズド・ハイハット 4"}};
    for (const auto& e : expected) {
        EXPECT_EQ(window->document().song().sprites[0].velocity(e.beat, 42), e.velocity) << e.beat;
        EXPECT_STREQ(atk_object_get_name(boxes.box_accessible(8, e.beat)), e.name);
    }
    press(GDK_KEY_plus, GdkModifierType(0), &editor);
    EXPECT_EQ(window->document().song().sprites[0].velocity(1, 42), 127);

    respond(editor, response_play_stop);
    std::vector<uint64_t> lit;
    for (int i = 0; i < 12; ++i) {
        const uint64_t before = boxes.playing_beat();
        platform.advance(3000);   // a quarter of a beat at 240 bpm
        if (run_until([&] { return boxes.playing_beat() != before; }, std::chrono::milliseconds(40)))
            lit.push_back(boxes.playing_beat());
    }
    EXPECT_EQ(lit, (std::vector<uint64_t>{0, 1, 2})) << "each beat lit as it is heard";
    respond(editor, response_play_stop);
    EXPECT_TRUE(run_until([&] { return boxes.playing_beat() == NoteGrid::none; }, std::chrono::seconds(2)));
}

}  // namespace
