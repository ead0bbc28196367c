// The main of every GUI test program: GTK is initialised once, before any
// test builds a window.
#include "gtk_test.h"

#include "program.h"
#include "sprite_window.h"
#include "texts.h"

#include <glibmm/main.h>
#include <gtk/gtk.h>
#include <gtkmm/main.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace stepmill_test {

void WindowTest::SetUp()
{
    // A state folder of the test's own: no recovery file of another test or
    // of the user's is ever seen.
    char folder[] = "/tmp/stepmill-ui-XXXXXX";
    state_dir = mkdtemp(folder);
    g_setenv("XDG_STATE_HOME", state_dir.c_str(), TRUE);
}

void WindowTest::open_window(const std::string& song)
{
    close_window();
    platform.out_devices = {"memory synth"};
    midi_out.reset(create_midi_out());
    ASSERT_TRUE(midi_out->open(0u));
    // An id of the test's own: no earlier test's application can collide.
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string id = std::string("org.stepmill.test.") + test->test_suite_name() + "." + test->name();
    std::replace_if(id.begin(), id.end(), [](char c) { return !g_ascii_isalnum(c) && c != '.'; }, '_');
    application = Gtk::Application::create(id, Gio::APPLICATION_NON_UNIQUE);
    application->signal_activate().connect([] {});   // the window is already there
    std::string name = "stepmill", device = "0", path = song;
    std::vector<char*> argv = {&name[0], &device[0], &path[0], nullptr};
    if (song.empty()) argv.erase(argv.begin() + 2);
    window = std::make_unique<stepmill::MainWindow>(static_cast<int>(argv.size() - 1), argv.data(), application);
    auto scripted = std::make_unique<ScriptedFileDialogs>();
    scripted->answers = std::exchange(first_answers, {});
    dialogs = scripted.get();
    window->set_dialogs(std::move(scripted));
    // The sprite actions are looked up on a registered application.
    application->register_application();
    application->add_window(*window);
    ASSERT_TRUE(show_focused(*window));
}

void WindowTest::TearDown()
{
    close_window();
    std::filesystem::remove_all(state_dir);
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

stepmill::SpriteWindow& WindowTest::editor(uint64_t i)
{
    window->present_sprite_window(i);
    settle();
    stepmill::SpriteWindow* found = nullptr;
    for (Gtk::Window* w : application->get_windows())
        if (auto* e = dynamic_cast<stepmill::SpriteWindow*>(w); e && e->get_title() == stepmill::sprite_label(i))
            found = e;
    EXPECT_NE(found, nullptr) << "editor " << i;
    return *found;
}

std::string WindowTest::write_file(const std::string& name, const std::string& text)
{
    const std::string path = state_dir + "/" + name;
    std::ofstream(path) << text;
    return path;
}

Gtk::Button& WindowTest::play_button()
{
    return find_one<Gtk::Button>(*window, [](Gtk::Button& b) { return b.get_label() == "再生/停止"; });
}

Gtk::SpinButton& WindowTest::control(const char* label)
{
    return find_one<Gtk::SpinButton>(*window, [label](Gtk::SpinButton& spin) {
        return spin.get_accessible()->get_name() == label;
    });
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
    GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_display_get_default());
    if (gdk_keymap_get_entries_for_keyval(keymap, keyval, &keys, &n) && n > 0)
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
    auto context = Glib::MainContext::get_default();
    while (context->iteration(false)) continue;
}

void settle_frame(Gtk::Widget& widget)
{
    settle();
    if (!widget.get_mapped())
        return;
    bool ticked = false;
    guint id = widget.add_tick_callback([&ticked](const Glib::RefPtr<Gdk::FrameClock>&) { return ticked = true, false; });
    // A frame is due within a refresh interval; the timeout only keeps a
    // display that stopped drawing from hanging the test.
    bool late = false;
    auto guard = Glib::signal_timeout().connect([&late] { return late = true, false; }, 2000);
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
    // A busy machine (a sanitizer build, a parallel run) may take a while.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
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
