// The main of every GUI test program: GTK is initialised once, before any
// test builds a window.
#include "gtk_test.h"

#include "program.h"

#include <glibmm/main.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/main.h>

#include <cstdio>
#include <vector>

namespace stepmill_test {

Glib::RefPtr<Gtk::Application> make_application()
{
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    Glib::ustring id = "org.stepmill.test";
    if (test)
        id += Glib::ustring(".") + test->test_suite_name() + "." + test->name();
    // Parameterised tests put '/' in their names; ids take only [A-Za-z0-9_.].
    Glib::ustring clean;
    for (gunichar c : id)
        clean += (g_ascii_isalnum(static_cast<gchar>(c)) || c == '.') && c < 128 ? c : gunichar('_');
    return Gtk::Application::create(clean, Gio::APPLICATION_NON_UNIQUE);
}

bool open_memory_port(midi_memory_platform_t& platform)
{
    platform.out_devices = {"memory synth"};
    midi_out.reset(create_midi_out());
    return midi_out->open(0u);
}

std::unique_ptr<stepmill::MainWindow> make_window(Glib::RefPtr<Gtk::Application>& application,
                                                  const std::string& song)
{
    std::string name = "stepmill", device = "0", path = song;
    std::vector<char*> argv = {&name[0], &device[0]};
    if (!song.empty())
        argv.push_back(&path[0]);
    argv.push_back(nullptr);
    return std::make_unique<stepmill::MainWindow>(static_cast<int>(argv.size() - 1), argv.data(), application);
}

void settle()
{
    auto context = Glib::MainContext::get_default();
    while (context->iteration(false)) {
    }
}

void settle_frame(Gtk::Widget& widget)
{
    settle();
    if (!widget.get_mapped())
        return;
    bool ticked = false;
    guint id = widget.add_tick_callback([&ticked](const Glib::RefPtr<Gdk::FrameClock>&) {
        ticked = true;
        return false;
    });
    // A frame is due within a refresh interval; the timeout only keeps a
    // display that stopped drawing from hanging the test.
    bool late = false;
    sigc::connection guard = Glib::signal_timeout().connect(
        [&late] {
            late = true;
            return false;
        },
        2000);
    while (!ticked && !late)
        Glib::MainContext::get_default()->iteration(true);
    guard.disconnect();
    if (!ticked)
        widget.remove_tick_callback(id);
    settle();
}

bool show_focused(Gtk::Window& window)
{
    window.show();
    settle();
    window.get_window()->focus(GDK_CURRENT_TIME);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!window.has_toplevel_focus() && std::chrono::steady_clock::now() < end)
        Glib::MainContext::get_default()->iteration(false);
    settle();
    return window.has_toplevel_focus();
}

void run_main_loop_for(std::chrono::milliseconds span)
{
    const auto end = std::chrono::steady_clock::now() + span;
    auto context = Glib::MainContext::get_default();
    while (std::chrono::steady_clock::now() < end)
        context->iteration(false);
}

}  // namespace stepmill_test

int main(int argc, char** argv)
{
    // The windows of these tests stay inside the process: no session bus, so
    // that their applications are neither exported nor seen by anything else.
    g_setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/stepmill-tests-have-no-bus", TRUE);
    testing::InitGoogleTest(&argc, argv);
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "no display: run the GUI tests under xvfb-run\n");
        return 1;
    }
    Gtk::Main::init_gtkmm_internals();
    return RUN_ALL_TESTS();
}
