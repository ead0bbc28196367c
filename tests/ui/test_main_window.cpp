// The main window as the program builds it: the menus and their
// accelerators, the tempo control, play/stop, undo and redo of every kind of
// edit, the question about unsaved changes, and the song kept when the
// program is told to end. (test_file_commands.cpp holds the sprite buttons
// and actions of songs of different sizes.)
#include "gtk_test.h"

#include <gtkmm/accellabel.h>
#include <gtkmm/colorbutton.h>
#include <gtkmm/menubar.h>
#include <gtkmm/separatormenuitem.h>

#include <map>

using namespace stepmill_test;

namespace {

using Window = WindowTest;

// The menus' items with their mnemonics and accelerator labels, the file
// commands each running its own; a button and an action present their
// sprite's editor.
TEST_F(Window, MenusAndAccelerators)
{
    open_window();
    std::vector<std::string> items;   // "label accelerator", "-" for a separator
    std::map<std::string, Gtk::MenuItem*> by_label;
    for (Gtk::Widget* top : find_one<Gtk::MenuBar>(*window).get_children()) {
        auto& menu = dynamic_cast<Gtk::MenuItem&>(*top);
        items.push_back(menu.get_label() + ":");
        for (Gtk::Widget* child : menu.get_submenu()->get_children()) {
            auto& item = dynamic_cast<Gtk::MenuItem&>(*child);
            guint key = 0;
            GdkModifierType mods = GdkModifierType(0);
            if (auto* accel = dynamic_cast<Gtk::AccelLabel*>(item.get_child()))
                gtk_accel_label_get_accel(accel->gobj(), &key, &mods);
            items.push_back(dynamic_cast<Gtk::SeparatorMenuItem*>(child) ? "-"
                            : item.get_label() + (item.get_use_underline() ? " " : " (no mnemonic) ") +
                                  Gtk::AccelGroup::name(key, Gdk::ModifierType(mods)));
            by_label[item.get_label()] = &item;
        }
    }
    EXPECT_EQ(items, (std::vector<std::string>{"_File:", "_Open <Primary>o", "_Save <Primary>s", "save_As ",
                                               "_Export to SMF ", "-", "e_Xit <Primary>q", "_Edit:",
                                               "_Undo <Primary>z", "_Redo <Primary><Shift>z"}));
    for (const char* command : {"_Open", "_Save", "save_As", "_Export to SMF"}) {
        by_label.at(command)->activate();
        settle();
    }
    EXPECT_EQ(dialogs->log, (std::vector<std::string>{"chooser 開く #1 last=", "chooser 保存 #2 last=",
                                                      "chooser 保存 #3 last=", "chooser SMF保存 #4 last="}));

    sprite_buttons()[7]->clicked();
    application->activate_action("12 _c");
    window->present_sprite_window(36);   // a sprite the song does not have: nothing
    settle();
    std::vector<std::string> shown;
    for (Gtk::Window* w : application->get_windows())
        if (w != window.get() && w->get_visible()) shown.push_back(w->get_title());
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, (std::vector<std::string>{"7", "c"}));
}

// The tempo stays within 1..1000, truncated, typed or set. One button
// starts and stops; an empty sequence never starts; a tempo change reaches
// the playing sequence from the frame it arrives at, keeping the place in
// the bar; closing the window stops the player and tells the display once.
TEST_F(Window, TempoPlayStopAndClosing)
{
    const auto note_ons = [this] {   // frames of the notes started since the sent messages were cleared
        std::vector<uint64_t> at;
        for (const auto& m : platform.sent)
            if (m.bytes.size() == 3 && m.bytes[0] == 0x99 && m.bytes[2] > 0) at.push_back(m.time);
        return at;
    };
    open_window(write_file("empty.trm", "sprites: 2\n"));
    struct Case { const char* typed; double set; uint64_t bpm; };
    for (const Case& c : {Case{nullptr, -20.0, 1}, {nullptr, 999.6, 999}, {nullptr, 5000.0, 1000},
                          {"2000", 0, 1000}, {"133", 0, 133}}) {
        SCOPED_TRACE(c.typed ? c.typed : std::to_string(c.set));
        Gtk::SpinButton& tempo = control("beat per minute");
        c.typed ? tempo.set_text(c.typed), tempo.update() : tempo.set_value(c.set);
        EXPECT_EQ(window->document().song().bpm, c.bpm);
    }
    play_button().clicked();
    platform.advance(4800);
    EXPECT_EQ(note_ons(), std::vector<uint64_t>{}) << "an empty sequence started";

    // Playing the sequence's sprite, 8 beats a bar at 120 bpm (12000 frames
    // apart), then at 240 from a third of the way into beat 1: the rest of it
    // takes half as long.
    open_window(write_file("tempo.trm", "bpm: 120\nsprites: 2\nbeats: 8\nbeat: 0 36\nsprite end\n"
                                        "beats: 8\nbeat: 1 42\nbeat: 2 42\nsprite end\nsequence: 1\n"));
    const uint64_t start = platform.now();
    platform.sent.clear();
    play_button().clicked();
    platform.advance(16000);
    control("beat per minute").set_value(240.0);
    platform.advance(30000);
    EXPECT_EQ(note_ons(), (std::vector<uint64_t>{start + 12000, start + 16000 + 4000}));

    platform.sent.clear();
    dialogs->save_choices = {SaveChoice::discard};
    window->close();
    EXPECT_TRUE(runs_until_quit(std::chrono::seconds(2))) << "closing ends the program";
    close_window();
    EXPECT_EQ(platform.sent.size(), 1u) << "the display told once of the stop";
}

// Every kind of edit, made as a user makes it, is one step: undone from the
// main window or an editor it gives the song of before, redone the song of
// after, and the window and the editor show each.
TEST_F(Window, UndoAndRedoEveryEdit)
{
    const auto clock = [this]() -> Gtk::CheckButton& {
        return find_one<Gtk::CheckButton>(*window, [](Gtk::CheckButton& b) { return b.get_label() == "MIDI clock"; });
    };
    const auto row_switch = [](SpriteWindow& e, uint64_t r, const char* prefix) -> Gtk::ToggleButton& {
        const Glib::ustring name = prefix + Glib::ustring(drum_note_table[r].name);
        return find_one<Gtk::ToggleButton>(e, [&](Gtk::ToggleButton& b) { return b.get_accessible()->get_name() == name; });
    };
    // What the window and sprite 3's editor show of every edit below.
    const auto view = [&] {
        SpriteWindow& e = editor(3);
        NoteGrid& g = find_one<NoteGrid>(e);
        std::string shown = std::to_string(strip().size()) + " columns; beats " + find_one<Gtk::SpinButton>(e).get_text() + ":";
        for (uint64_t b = 0; b < g.beat_count(); ++b)
            shown += g.get_active(3, b) ? " " + std::to_string(g.velocity(3, b)) : " .";
        for (const char* label : {"beat per minute", "swing", "channel"})
            shown += "; " + control(label).get_text().raw();
        return shown + "; " + std::to_string(clock().get_active()) + std::to_string(row_switch(e, 3, "ミュート ").get_active()) +
               std::to_string(row_switch(e, 8, "ソロ ").get_active()) + " " + find_one<Gtk::ColorButton>(e).get_rgba().to_string().raw();
    };
    struct Case { const char* what; std::function<void()> edit; };
    const std::vector<Case> cases = {
        {"a note switched on", [this] { grid(3).toggle(3, 4); }},
        {"Apply shortening a sprite",
         [this] { find_one<Gtk::SpinButton>(editor(3)).set_value(4), editor(3).response(Gtk::RESPONSE_APPLY); }},
        {"an entry inserted", [this] { press(GDK_KEY_Right), press(GDK_KEY_2); }},
        {"an entry deleted", [this] { for (guint k : {GDK_KEY_Right, GDK_KEY_Right, GDK_KEY_BackSpace}) press(k); }},
        {"a tempo drag", [this] { for (double v : {130.0, 131.0, 140.0}) control("beat per minute").set_value(v); }},
        {"a swing drag", [this] { for (double v : {60.0, 66.0}) control("swing").set_value(v); }},
        {"the channel", [this] { control("channel").set_value(2); }},
        {"the MIDI clock", [&] { clock().set_active(true); }},
        {"a velocity by Control-click",
         [this] { pointer(grid(3), GDK_BUTTON_PRESS, grid(3).box_area(3, 5), GDK_CONTROL_MASK); }},
        {"a row muted", [&] { row_switch(editor(3), 3, "ミュート ").set_active(true); }},
        {"a row soloed", [&] { row_switch(editor(3), 8, "ソロ ").set_active(true); }},
        {"a colour",
         [this] {
             auto& button = find_one<Gtk::ColorButton>(editor(3));
             button.set_rgba(Gdk::RGBA("#204080"));
             g_signal_emit_by_name(button.gobj(), "color-set");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        open_window(write_file("undo.trm", "sprites: 4\nbeats: 8\nsprite end\nbeats: 8\nsprite end\nbeats: 8\nsprite end\nbeats: 8\nbeat: 5 38\nbeat: 6 38\n"
                                           "sprite end\nsequence: 0 1 2\n"));
        const auto before = std::make_pair(song_text(), view());
        c.edit();
        const auto after = std::make_pair(song_text(), view());
        EXPECT_NE(after.first, before.first);
        EXPECT_NE(after.second, before.second);
        EXPECT_EQ(window->get_title(), "*" + std::string(program_title));
        for (Gtk::Window* where : {static_cast<Gtk::Window*>(window.get()), static_cast<Gtk::Window*>(&editor(3))}) {
            press(GDK_KEY_z, GDK_CONTROL_MASK, where);
            EXPECT_EQ(std::make_pair(song_text(), view()), before);
            EXPECT_EQ(window->get_title(), "*" + std::string(program_title)) << "undone is still changed";
            press(where == window.get() ? GDK_KEY_Z : GDK_KEY_y,
                  GdkModifierType(GDK_CONTROL_MASK | (where == window.get() ? GDK_SHIFT_MASK : 0)), where);
            EXPECT_EQ(std::make_pair(song_text(), view()), after);
        }
    }
}

// Closing, Ctrl+Q and Open ask about unsaved changes: save (then go on),
// discard (go on), cancel (stay). Nothing asks when nothing changed.
TEST_F(Window, UnsavedChangesAreAskedAbout)
{
    const std::string song = write_file("guard.trm", "sprites: 2\n"), other = write_file("other.trm", "sprites: 5\n");
    struct Case { const char* what; bool edit; SaveChoice choice; bool goes_on; bool saved; };
    const std::vector<Case> cases = {
        {"unchanged", false, SaveChoice::cancel, true, false},
        {"save", true, SaveChoice::save, true, true},
        {"discard", true, SaveChoice::discard, true, false},
        {"cancel", true, SaveChoice::cancel, false, false},
    };
    for (const char* trigger : {"close", "Ctrl+Q", "Open"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(trigger) + ": " + c.what);
            write_file("guard.trm", "sprites: 2\n");
            open_window(song);
            if (c.edit)
                press(GDK_KEY_Right), press(GDK_KEY_1);
            const std::string edited = song_text();
            dialogs->save_choices = {c.choice};
            dialogs->paths = {other};
            bool went_on;
            if (std::string(trigger) == "Open") {
                press(GDK_KEY_o, GDK_CONTROL_MASK);
                went_on = window->document().song().sprites.size() == 5;
            } else {
                Glib::signal_idle().connect_once([&] {
                    std::string(trigger) == "close" ? window->close() : void(press(GDK_KEY_q, GDK_CONTROL_MASK));
                });
                went_on = runs_until_quit(std::chrono::seconds(2));
            }
            EXPECT_EQ(went_on, c.goes_on);
            EXPECT_EQ(dialogs->log.empty() || dialogs->log[0] != "save? " + song + " への変更を保存しますか?", !c.edit);
            EXPECT_EQ(Glib::file_get_contents(song) == edited, c.saved);
        }
    }
}

// Told to end with unsaved changes, the window keeps them; the next start
// offers them: restored, they are the song, modified (guard_recovery.sh saves
// them where they came from); discarded, they are gone, and Save asks for a
// new song's name.
TEST_F(Window, RecoveryAfterAnEnd)
{
    const std::string song = write_file("lost.trm", "sprites: 3\n");
    for (bool restore : {true, false}) {
        SCOPED_TRACE(restore);
        open_window(song);
        press(GDK_KEY_Right);
        press(GDK_KEY_2);
        const std::string edited = song_text();
        window->on_terminate();
        first_answers = {restore};
        open_window();
        EXPECT_EQ(dialogs->log, std::vector<std::string>{"restore? 保存されずに終わった " + song + " への変更があります。復元しますか?"});
        EXPECT_EQ(song_text() == edited, restore);
        EXPECT_EQ(window->get_title(), restore ? "*" + song : std::string(program_title));
        EXPECT_EQ(g_file_test((state_dir + "/stepmill/recovery.trm").c_str(), G_FILE_TEST_EXISTS), restore);
        if (!restore) {   // a new song's Save asks for a name, as Save As does
            dialogs->paths = {state_dir + "/new.trm"};
            press(GDK_KEY_s, GDK_CONTROL_MASK);
            EXPECT_EQ(dialogs->log.back(), "chooser 保存 #1 last=");
            EXPECT_EQ(Glib::file_get_contents(state_dir + "/new.trm"), song_text());
            EXPECT_EQ(window->get_title(), state_dir + "/new.trm");
        }
    }
}

}  // namespace
