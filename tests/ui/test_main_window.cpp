// The main window as the program builds it: sprite buttons and actions for
// songs of different sizes, the menus and their accelerators, the tempo
// control, play/stop, undo and redo of every kind of edit, the question
// about unsaved changes, and the song kept when the program is told to end.
#include "gtk_test.h"
#include "program.h"
#include "note_grid.h"
#include "sprite_window.h"

#include <gdk/gdkkeysyms.h>
#include <glibmm/fileutils.h>
#include <glibmm/main.h>
#include <gtkmm/accellabel.h>
#include <gtkmm/checkbutton.h>
#include <gtkmm/colorbutton.h>
#include <gtkmm/menu.h>
#include <gtkmm/menubar.h>
#include <gtkmm/separatormenuitem.h>
#include <gtkmm/spinbutton.h>

#include <algorithm>
#include <map>

using namespace stepmill;

namespace {

class Window : public stepmill_test::WindowTest {
protected:
    Gtk::SpinButton& tempo() { return control("beat per minute"); }
    // In sprite 3's editor: its grid, and row r's mute or solo.
    NoteGrid& grid() { return stepmill_test::find_one<NoteGrid>(editor(3)); }
    Gtk::ToggleButton& row_switch(uint64_t r, const char* prefix)
    {
        const Glib::ustring name = prefix + Glib::ustring(drum_note_table[r].name);
        return stepmill_test::find_one<Gtk::ToggleButton>(editor(3), [&name](Gtk::ToggleButton& b) {
            return b.get_accessible()->get_name() == name;
        });
    }
};

// Buttons and actions a song of n sprites must have, written out apart from
// the code under test: "0".."9", "a".."z", "A".."Z", then numbers. A file's
// tempo outside the control's range is brought into it.
TEST_F(Window, StartUpFollowsTheSong)
{
    const std::string letters = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    struct Case { int sprites; const char* bpm; double tempo; };
    for (const Case& c : {Case{-1, "", 120}, Case{63, "0", 1}, Case{0, "4294967295", 1000}}) {   // -1: no file
        SCOPED_TRACE(c.sprites);
        std::string path;
        if (c.sprites >= 0)
            path = write_file("window.trm", "bpm: " + std::string(c.bpm) + "\nsprites: " + std::to_string(c.sprites) + "\n");
        open_window(path);
        const int n = c.sprites < 0 ? 36 : c.sprites;
        std::vector<std::string> labels, expected;
        for (Gtk::Button* button : sprite_buttons())
            labels.push_back(button->get_label());
        for (int i = 0; i < n; ++i) {
            std::string label = i < 62 ? std::string(1, letters[i]) : std::to_string(i);
            expected.push_back(label);
            std::string action = i < 10 ? "_" + label : i < 62 ? std::to_string(i) + " _" + label : label;
            EXPECT_TRUE(application->has_action(action)) << action;
        }
        EXPECT_EQ(labels, expected);
        EXPECT_FALSE(application->has_action(sprite_action_name(static_cast<uint64_t>(n))));
        EXPECT_EQ(tempo().get_value(), c.tempo);
        EXPECT_EQ(window->document().song().bpm, uint64_t(c.tempo)) << "one tempo: shown, played, saved";
        EXPECT_EQ(window->get_title(), program_title);
    }
}

// The menus' items with their mnemonics and accelerator labels, the file
// commands each running its own; Ctrl+O from the window opens, a plain "o"
// does not; a button and an action present their sprite's editor.
TEST_F(Window, MenusAndAccelerators)
{
    open_window();
    std::vector<std::string> items;   // "label accelerator", "-" for a separator
    std::map<std::string, Gtk::MenuItem*> by_label;
    for (Gtk::Widget* top : stepmill_test::find_one<Gtk::MenuBar>(*window).get_children()) {
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
        stepmill_test::settle();
    }
    EXPECT_EQ(dialogs->log, (std::vector<std::string>{"chooser 開く #1 last=", "chooser 保存 #2 last=",
                                                      "chooser 保存 #3 last=", "chooser SMF保存 #4 last="}));
    dialogs->log.clear();
    press(GDK_KEY_o);
    EXPECT_TRUE(dialogs->log.empty()) << "without Control the key is the strip's";
    press(GDK_KEY_o, GDK_CONTROL_MASK);
    EXPECT_EQ(dialogs->log, std::vector<std::string>{"chooser 開く #5 last="});

    sprite_buttons()[7]->clicked();
    application->activate_action("12 _c");
    window->present_sprite_window(36);   // a sprite the song does not have: nothing
    stepmill_test::settle();
    std::vector<std::string> shown;
    for (Gtk::Window* w : application->get_windows())
        if (w != window.get() && w->get_visible()) shown.push_back(w->get_title());
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, (std::vector<std::string>{"7", "c"}));
}

// The tempo stays within 1..1000, truncated, typed or set; a change reaches
// the playing sequence from the frame it arrives at, keeping the place in
// the bar.
TEST_F(Window, Tempo)
{
    open_window();
    struct Case { const char* typed; double set; uint64_t bpm; };
    const std::vector<Case> cases = {
        {nullptr, 0.0, 1},     {nullptr, -20.0, 1},     {nullptr, 999.6, 999},
        {nullptr, 5000.0, 1000}, {"2000", 0, 1000},      {"0", 0, 1}, {"133", 0, 133},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed ? c.typed : std::to_string(c.set));
        if (c.typed) {
            tempo().set_text(c.typed);
            tempo().update();
        } else {
            tempo().set_value(c.set);
        }
        EXPECT_EQ(window->document().song().bpm, c.bpm);
    }

    // Playing 8 beats a bar at 120 bpm (12000 frames apart), then at 240 from
    // a third of the way into beat 1: the rest of it takes half as long.
    open_window(write_file("tempo.trm", "bpm: 120\nsprites: 1\nbeats: 8\nbeat: 1 42\nbeat: 2 42\nsprite end\nsequence: 0\n"));
    const uint64_t start = platform.now();
    play_button().clicked();
    platform.advance(16000);
    tempo().set_value(240.0);
    platform.advance(30000);
    std::vector<uint64_t> hats;
    for (const auto& m : platform.sent)
        if (m.bytes == std::vector<unsigned char>{0x99, 42, 127}) hats.push_back(m.time - start);
    EXPECT_EQ(hats, (std::vector<uint64_t>{12000, 16000 + 4000}));
}

// One button starts and stops; an empty sequence never starts; closing the
// window stops the player and tells the display once.
TEST_F(Window, PlayStopAndClosing)
{
    struct Case { const char* what; bool with_sequence; bool after; };
    for (const Case& c : {Case{"empty sequence starts nothing", false, false},
                          Case{"stopped with a sequence starts it", true, true}}) {
        SCOPED_TRACE(c.what);
        open_window(write_file("play.trm", c.with_sequence ? "sprites: 2\nbeats: 8\nsprite end\nbeats: 8\nbeat: 0 38\nsprite end\nsequence: 1 0\n"
                                                           : "sprites: 2\n"));
        platform.sent.clear();
        play_button().clicked();
        platform.advance(4800);
        std::vector<int> notes;
        for (const auto& message : platform.sent)
            if (message.bytes.size() == 3 && message.bytes[0] == 0x99 && message.bytes[2] > 0) notes.push_back(message.bytes[1]);
        EXPECT_EQ(notes, c.after ? std::vector<int>{38} : std::vector<int>{}) << "the first entry's beat";
        platform.sent.clear();
        window->close();
        EXPECT_TRUE(runs_until_quit(std::chrono::seconds(2))) << "closing ends the program";
        close_window();
        EXPECT_EQ(platform.sent.size(), 1u) << "the display told once of the stop";
    }
}

// Every kind of edit, made as a user makes it, is one step: undone from the
// main window or an editor it gives the song of before, redone the song of
// after, and the views show it.
TEST_F(Window, UndoAndRedoEveryEdit)
{
    struct Case {
        const char* what;
        std::function<void()> edit;
        std::function<std::string()> view;   // what the window shows of it
    };
    const auto strip_view = [this] { return std::to_string(strip().size()) + " columns"; };
    const auto grid_view = [this] {   // the beats the spin shows, then row 3's boxes
        std::string boxes = stepmill_test::find_one<Gtk::SpinButton>(editor(3)).get_text() + ":";
        for (uint64_t b = 0; b < grid().beat_count(); ++b)
            boxes += grid().get_active(3, b) ? std::to_string(grid().velocity(3, b)) + " " : ". ";
        return boxes;
    };
    const auto spin_view = [this](const char* label) { return [=] { return control(label).get_text().raw(); }; };
    const auto clock = [this]() -> Gtk::CheckButton& {
        return stepmill_test::find_one<Gtk::CheckButton>(*window, [](Gtk::CheckButton& b) {
            return b.get_label() == "MIDI clock";
        });
    };
    const auto row_view = [this](uint64_t r, const char* which) {
        return [=] { return std::to_string(row_switch(r, which).get_active()); };
    };
    const std::vector<Case> cases = {
        {"a note switched on", [this] { grid().toggle(3, 4); }, grid_view},
        {"Apply shortening a sprite",
         [this] {
             stepmill_test::find_one<Gtk::SpinButton>(editor(3)).set_value(4);
             editor(3).response(Gtk::RESPONSE_APPLY);
         },
         grid_view},
        {"an entry inserted", [this] { press(GDK_KEY_Right), press(GDK_KEY_2); }, strip_view},
        {"an entry deleted", [this] { for (guint k : {GDK_KEY_Right, GDK_KEY_Right, GDK_KEY_BackSpace}) press(k); },
         strip_view},
        {"a tempo drag", [this] { for (double v : {130.0, 131.0, 140.0}) tempo().set_value(v); },
         spin_view("beat per minute")},
        {"a swing drag", [this] { for (double v : {60.0, 66.0}) control("swing").set_value(v); }, spin_view("swing")},
        {"the channel", [this] { control("channel").set_value(2); }, spin_view("channel")},
        {"the MIDI clock", [&] { clock().set_active(true); }, [&] { return std::to_string(clock().get_active()); }},
        {"a velocity by Control-click",
         [this] {
             stepmill_test::settle_frame(grid());
             stepmill_test::pointer(grid(), GDK_BUTTON_PRESS, grid().box_area(3, 5), GDK_CONTROL_MASK);
         },
         grid_view},
        {"a row muted", [this] { row_switch(3, "ミュート ").set_active(true); }, row_view(3, "ミュート ")},
        {"a row soloed", [this] { row_switch(8, "ソロ ").set_active(true); }, row_view(8, "ソロ ")},
        {"a colour",
         [this] {
             auto& button = stepmill_test::find_one<Gtk::ColorButton>(editor(3));
             button.set_rgba(Gdk::RGBA("#204080"));
             g_signal_emit_by_name(button.gobj(), "color-set");
         },
         [this] { return stepmill_test::find_one<Gtk::ColorButton>(editor(3)).get_rgba().to_string(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        open_window(write_file("undo.trm", "sprites: 4\nbeats: 8\nsprite end\nbeats: 8\nsprite end\nbeats: 8\nsprite end\nbeats: 8\nbeat: 5 38\nbeat: 6 38\n"
                                           "sprite end\nsequence: 0 1 2\n"));
        const std::string before = song_text(), shown_before = c.view();
        c.edit();
        const std::string after = song_text(), shown_after = c.view();
        EXPECT_NE(after, before);
        EXPECT_EQ(window->get_title(), "*" + std::string(program_title));
        for (Gtk::Window* where : {static_cast<Gtk::Window*>(window.get()), static_cast<Gtk::Window*>(&editor(3))}) {
            press(GDK_KEY_z, GDK_CONTROL_MASK, where);
            EXPECT_EQ(song_text(), before);
            EXPECT_EQ(c.view(), shown_before);
            press(where == window.get() ? GDK_KEY_Z : GDK_KEY_y,
                  GdkModifierType(GDK_CONTROL_MASK | (where == window.get() ? GDK_SHIFT_MASK : 0)), where);
            EXPECT_EQ(song_text(), after);
            EXPECT_EQ(c.view(), shown_after);
        }
        EXPECT_EQ(window->get_title(), "*" + std::string(program_title)) << "undone is still changed";
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
// offers them: restored, they are the song, modified, saved by Save where it
// came from; discarded, they are gone, and Save asks for a new song's name.
// A save removes them too.
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
        if (restore) {   // Save writes the song's file without a question
            press(GDK_KEY_s, GDK_CONTROL_MASK);
            EXPECT_EQ(dialogs->log.size(), 1u);
            EXPECT_EQ(Glib::file_get_contents(song), edited);
            EXPECT_EQ(window->get_title(), song);
            EXPECT_FALSE(g_file_test((state_dir + "/stepmill/recovery.trm").c_str(), G_FILE_TEST_EXISTS));
        } else {   // a new song's Save asks for a name, as Save As does
            dialogs->paths = {state_dir + "/new.trm"};
            press(GDK_KEY_s, GDK_CONTROL_MASK);
            EXPECT_EQ(dialogs->log.back(), "chooser 保存 #1 last=");
            EXPECT_EQ(Glib::file_get_contents(state_dir + "/new.trm"), song_text());
            EXPECT_EQ(window->get_title(), state_dir + "/new.trm");
        }
    }
}

}  // namespace
