// What every GUI test program shares: an application per test, and running
// the main loop the way the program would between events.
#pragma once

#include "main_window.h"
#include "midi_memory_platform.h"

#include <gtkmm/application.h>
#include <gtkmm/window.h>

#include <chrono>
#include <memory>
#include <string>

namespace stepmill_test {

// A non-unique application whose id is the running test's own, so that a
// registered application of an earlier test (still exported on a session bus,
// if there is one) never collides with it.
Glib::RefPtr<Gtk::Application> make_application();

// Shows the window and gives it the keyboard focus; Xvfb has no window
// manager to do it. False when the focus did not arrive within a second.
bool show_focused(Gtk::Window& window);

// Opens the program's one port on the in-memory platform, as the entry point
// opens a device.
bool open_memory_port(midi_memory_platform_t& platform);

// The window as the program builds it for `stepmill 0 [song]`.
std::unique_ptr<stepmill::MainWindow> make_window(Glib::RefPtr<Gtk::Application>& application,
                                                  const std::string& song = "");

// Handles every pending event, without blocking.
void settle();

// Handles every pending event and waits for the next frame of the widget's
// window, so that what the events changed has been laid out and drawn.
// Pending events alone are not enough: the toolkit lays out on its frame
// clock, which may not be due yet.
void settle_frame(Gtk::Widget& widget);

// Runs the main loop for a span of wall-clock time.
void run_main_loop_for(std::chrono::milliseconds span);

}  // namespace stepmill_test
