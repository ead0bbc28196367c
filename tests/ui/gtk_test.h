// What every GUI test program shares: the window as the program builds it,
// on the in-memory MIDI platform, with scripted dialogs and a state folder
// of its own, and the main loop run the way the program would between events.
#pragma once

#include "main_icon_buttons.h"
#include "main_menu_bar.h"
#include "main_window.h"
#include "midi_memory_platform.h"
#include "program.h"
#include "scripted_dialogs.h"
#include "sequence_strip.h"
#include "sprite_window.h"
#include "texts.h"
#include "widget_find.h"

#include <atk/atk.h>
#include <gdk/gdkkeysyms.h>
#include <glibmm/fileutils.h>
#include <glibmm/main.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <deque>

namespace stepmill_test {

using namespace stepmill;

template <class W>
W& find_one(Gtk::Widget& root, const std::function<bool(W&)>& match = nullptr)
{
    std::vector<W*> found = find_all<W>(root, match);
    EXPECT_EQ(found.size(), 1u);
    return *found.at(0);
}

class WindowTest : public ::testing::Test {
protected:
    WindowTest();
    ~WindowTest() override;

    // `stepmill 0 [song]` on an application of its own, shown with the
    // keyboard focus (Xvfb has no window manager to give it).
    void open_window(const std::string& song = "");
    void close_window();
    // Writes `text` to a file of that name in the state folder; its path.
    std::string write_file(const std::string& name, const std::string& text);
    // A key press as the toolkit delivers it to `target` (the main window by
    // default), then the next frame; whether the window handled it.
    bool press(guint keyval, GdkModifierType state = GdkModifierType(0), Gtk::Window* target = nullptr);
    // The song as its file would be written.
    std::string song_text() const;
    // Sprite i's editor, presented and laid out.
    SpriteWindow& editor(uint64_t i);
    NoteGrid& grid(uint64_t i) { return find_one<NoteGrid>(editor(i)); }
    const NoteSet& notes(uint64_t sprite, uint64_t beat) const
    {
        return window->document().song().sprites[sprite].notes[beat];
    }
    // The main window's spin button of that label ("beat per minute", "swing", "channel").
    Gtk::SpinButton& control(const char* label)
    {
        return find_one<Gtk::SpinButton>(*window, [=](Gtk::SpinButton& b) { return b.get_accessible()->get_name() == label; });
    }
    Gtk::Button& play_button()
    {
        return find_one<Gtk::Button>(*window, [](Gtk::Button& b) { return b.get_label() == "再生/停止"; });
    }
    SequenceStrip& strip() { return find_one<SequenceStrip>(*window); }
    std::vector<Gtk::Button*> sprite_buttons() { return find_all<Gtk::Button>(find_one<MainIconButtons>(*window)); }
    // Runs the application until it quits or `limit` passes; whether the
    // window ended it.
    bool runs_until_quit(std::chrono::milliseconds limit);

    std::string state_dir;            // this test's $XDG_STATE_HOME
    std::deque<bool> first_answers;   // for the questions the next window asks as it starts
    midi_memory_platform_t platform;
    Glib::RefPtr<Gtk::Application> application;
    std::unique_ptr<MainWindow> window;
    ScriptedFileDialogs* dialogs = nullptr;
};

bool show_focused(Gtk::Window& window);

// A pointer event of this type at the middle of `area` of the widget's
// window: a button press or release (with the modifiers in `state`) or a
// scroll in `direction`.
void pointer(Gtk::Widget& widget, GdkEventType type, const Gdk::Rectangle& area, guint state = 0,
             GdkScrollDirection direction = GDK_SCROLL_UP);

// Handles every pending event, without blocking.
void settle();

// Runs the main loop until `done` gives true or `limit` passes; whether it did.
bool run_until(const std::function<bool()>& done, std::chrono::milliseconds limit);

// Handles every pending event and waits for the widget's next frame: the
// toolkit lays out on its frame clock, which pending events alone miss.
void settle_frame(Gtk::Widget& widget);

}  // namespace stepmill_test
