// What every GUI test program shares: the window as the program builds it,
// on the in-memory MIDI platform, with scripted file dialogs, and running the
// main loop the way the program would between events.
#pragma once

#include "file_dialogs.h"
#include "main_window.h"
#include "midi_memory_platform.h"

#include <gtest/gtest.h>
#include <gtkmm/application.h>
#include <gtkmm/window.h>

#include <chrono>
#include <memory>
#include <string>

namespace stepmill_test {

class WindowTest : public ::testing::Test {
protected:
    void TearDown() override { close_window(); }

    // `stepmill 0 [song]` on a registered application of this test's own,
    // shown with the keyboard focus (Xvfb has no window manager to give it).
    void open_window(const std::string& song = "");
    void close_window();
    // A fresh script for the window's dialogs: the log counts choosers from 1.
    void script_dialogs();
    // A key press as the toolkit delivers it to `target` (the main window by
    // default), then the next frame; whether the window handled it.
    bool press(guint keyval, GdkModifierType state = GdkModifierType(0), Gtk::Window* target = nullptr);

    midi_memory_platform_t platform;
    Glib::RefPtr<Gtk::Application> application;
    std::unique_ptr<stepmill::MainWindow> window;
    stepmill::ScriptedFileDialogs* dialogs = nullptr;
};

bool show_focused(Gtk::Window& window);

// Handles every pending event, without blocking.
void settle();

// Handles every pending event and waits for the widget's next frame: the
// toolkit lays out on its frame clock, which pending events alone miss.
void settle_frame(Gtk::Widget& widget);

// Runs the main loop for a span of wall-clock time.
void run_main_loop_for(std::chrono::milliseconds span);

}  // namespace stepmill_test
