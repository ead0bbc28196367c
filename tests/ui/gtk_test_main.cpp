// The main of every GUI test program: GTK is initialised once, before any
// test builds a window.
#include "gtk_test.h"

#include <gtkmm/main.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace stepmill_test {

WindowTest::WindowTest()
{
    // A state folder of the test's own: no recovery file of another test or
    // of the user's is ever seen.
    char folder[] = "/tmp/stepmill-ui-XXXXXX";
    state_dir = mkdtemp(folder);
    g_setenv("XDG_STATE_HOME", state_dir.c_str(), TRUE);
}

WindowTest::~WindowTest()
{
    close_window();
    std::filesystem::remove_all(state_dir);
}

void WindowTest::open_window(const std::string& song)
{
    close_window();
    platform.out_devices = {"memory synth"};
    midi_out.reset(create_midi_out());
    ASSERT_TRUE(midi_out->open(0u));
    application = Gtk::Application::create("org.stepmill.test", Gio::APPLICATION_NON_UNIQUE);
    application->signal_activate().connect([] {});   // the window is already there
    std::string args[] = {"stepmill", "0", song};
    char* argv[] = {args[0].data(), args[1].data(), args[2].data(), nullptr};
    window = std::make_unique<MainWindow>(song.empty() ? 2 : 3, argv, application);
    auto scripted = std::make_unique<ScriptedFileDialogs>();
    scripted->answers = std::exchange(first_answers, {});
    dialogs = scripted.get();
    window->set_dialogs(std::move(scripted));
    // The sprite actions are looked up on a registered application.
    application->register_application();
    application->add_window(*window);
    ASSERT_TRUE(show_focused(*window));
}

void WindowTest::close_window()
{
    window.reset();
    midi_out.reset();
    application.reset();
}

std::string WindowTest::song_text() const
{
    std::ostringstream text;
    window->document().song().write(text);
    return text.str();
}

SpriteWindow& WindowTest::editor(uint64_t i)
{
    window->present_sprite_window(i);
    for (Gtk::Window* w : application->get_windows())
        if (auto* e = dynamic_cast<SpriteWindow*>(w); e && e->get_title() == sprite_label(i))
            return settle_frame(*e), *e;
    throw std::runtime_error("no editor of sprite " + std::to_string(i));
}

std::string WindowTest::write_file(const std::string& name, const std::string& text)
{
    const std::string path = state_dir + "/" + name;
    std::ofstream(path) << text;
    return path;
}

bool WindowTest::runs_until_quit(std::chrono::milliseconds limit)
{
    bool timed_out = false;
    auto guard = Glib::signal_timeout().connect([&] { return timed_out = true, application->quit(), false; },
                                                unsigned(limit.count()));
    application->run();
    guard.disconnect();
    return !timed_out;
}

bool WindowTest::press(guint keyval, GdkModifierType state, Gtk::Window* target)
{
    Gtk::Window& to = target ? *target : *window;
    GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(to.get_window()->gobj()));
    event->key.keyval = keyval;
    event->key.state = state;
    event->key.send_event = TRUE;
    // Accelerators and focus keys match the hardware key, as for a real press.
    GdkKeymapKey* keys = nullptr;
    gint n = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gdk_display_get_default()), keyval, &keys, &n))
        event->key.hardware_keycode = guint16(keys[0].keycode);
    g_free(keys);
    gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
    gboolean handled = gtk_widget_event(GTK_WIDGET(to.gobj()), event);
    gdk_event_free(event);
    settle_frame(to);
    return handled;
}

void pointer(Gtk::Widget& widget, GdkEventType type, const Gdk::Rectangle& area, guint state,
             GdkScrollDirection direction)
{
    GdkEvent* event = gdk_event_new(type);
    event->any.window = GDK_WINDOW(g_object_ref(widget.get_window()->gobj()));
    const double x = area.get_x() + area.get_width() / 2.0, y = area.get_y() + area.get_height() / 2.0;
    if (type == GDK_SCROLL) {
        event->scroll.direction = direction;
        event->scroll.x = x, event->scroll.y = y;
    } else {
        event->button.button = 1;
        event->button.state = state;
        event->button.x = x, event->button.y = y;
    }
    gdk_event_set_device(event, gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default())));
    gtk_main_do_event(event);
    gdk_event_free(event);
}

void settle()
{
    while (Glib::MainContext::get_default()->iteration(false)) continue;
}

bool run_until(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end)
        Glib::MainContext::get_default()->iteration(false);
    settle();
    return done();
}

void settle_frame(Gtk::Widget& widget)
{
    settle();
    if (!widget.get_mapped())
        return;
    bool ticked = false;
    guint id = widget.add_tick_callback([&ticked](const Glib::RefPtr<Gdk::FrameClock>&) { return ticked = true, false; });
    // A frame is due within a refresh interval; the limit only keeps a
    // display that stopped drawing from hanging the test.
    if (!run_until([&ticked] { return ticked; }, std::chrono::seconds(2)))
        widget.remove_tick_callback(id);
}

bool show_focused(Gtk::Window& window)
{
    window.show();
    settle();
    window.get_window()->focus(GDK_CURRENT_TIME);
    // A busy machine (a sanitizer build, a parallel run) may take a while.
    return run_until([&window] { return window.has_toplevel_focus(); }, std::chrono::seconds(10));
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
