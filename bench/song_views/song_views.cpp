// How quickly the song views appear and answer, with real widgets in a real
// window worked from outside as a user works it (run it under Xvfb): a big
// song's start, editors, strip keys, and an edit, its undo and its redo each
// to the next frame; then how the user's work on the window moves the beats
// of a sequence playing to our probe on a private JACK server.
//
//   bench_song_views [seconds per playing phase, default 3]
#include "main_window.h"
#include "midi_out.h"
#include "note_grid.h"
#include "probe_process.h"
#include "program.h"
#include "scripted_dialogs.h"
#include "sprite_window.h"
#include "texts.h"
#include "widget_find.h"

#include <gdk/gdkkeysyms.h>
#include <glibmm/main.h>
#include <gtk/gtk.h>
#include <gtkmm/button.h>
#include <gtkmm/main.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace stepmill;

namespace {

double now_ms()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

double peak_mb()
{
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return double(r.ru_maxrss) / 1024.0;
}

void settle()
{
    auto context = Glib::MainContext::get_default();
    while (context->iteration(false)) {
    }
}

// Runs the main loop until the widget's window has drawn its next frame.
void next_frame(Gtk::Widget& widget)
{
    bool ticked = false;
    guint id = widget.add_tick_callback([&ticked](const Glib::RefPtr<Gdk::FrameClock>&) {
        ticked = true;
        return false;
    });
    double end = now_ms() + 5000;
    while (!ticked && now_ms() < end)
        Glib::MainContext::get_default()->iteration(true);
    if (!ticked)
        widget.remove_tick_callback(id);
    // The tick precedes layout and paint of the same frame: let them run.
    settle();
}

void press(Gtk::Window& window, guint keyval, GdkModifierType state = GdkModifierType(0))
{
    GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(window.get_window()->gobj()));
    event->key.keyval = keyval;
    event->key.state = state;
    event->key.send_event = TRUE;
    GdkKeymapKey* keys = nullptr;
    gint n = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gdk_display_get_default()), keyval, &keys, &n) &&
        n > 0)
        event->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
    g_free(keys);
    gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
    gtk_widget_event(GTK_WIDGET(window.gobj()), event);
    gdk_event_free(event);
}

// Milliseconds from the action to the window's next frame.
double to_frame(Gtk::Window& window, const std::function<void()>& action)
{
    double t0 = now_ms();
    action();
    next_frame(window);
    return now_ms() - t0;
}

struct stats_t {
    std::vector<double> v;
    void add(double x) { v.push_back(x); }
    double at(double p) const
    {
        if (v.empty()) return 0;
        std::vector<double> s = v;
        std::sort(s.begin(), s.end());
        return s[std::min(s.size() - 1, static_cast<size_t>(p * double(s.size() - 1) + 0.5))];
    }
    double max() const { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }
};

// 256 sprites of 16 beats with a 2,000-entry sequence, written as a song file.
std::string write_big_song()
{
    std::string path = "/tmp/stepmill-bench-big-" + std::to_string(getpid()) + ".trm";
    Song song;
    song.default_beats = 16;
    song.reset_sprites(256);
    for (uint64_t i = 0; i < 256; ++i)
        for (uint64_t b = 0; b < 16; b += 2)
            song.sprites[i].notes[b].set(static_cast<int>(35 + (i + b) % 40));
    for (uint32_t k = 0; k < 2000; ++k)
        song.sequence.push_back(k * 7 % 256);
    song.write(path);
    return path;
}

// `stepmill probe [song]`, with scripted dialogs.
std::unique_ptr<MainWindow> make_window(Glib::RefPtr<Gtk::Application>& app, const std::string& song,
                                        ScriptedFileDialogs** dialogs = nullptr)
{
    std::string name = "stepmill", device = "probe", path = song;
    char* argv[] = {&name[0], &device[0], song.empty() ? nullptr : &path[0], nullptr};
    auto window = std::make_unique<MainWindow>(song.empty() ? 2 : 3, argv, app);
    auto scripted = std::make_unique<ScriptedFileDialogs>();
    if (dialogs)
        *dialogs = scripted.get();
    window->set_dialogs(std::move(scripted));
    return window;
}

SpriteWindow& editor_of(Glib::RefPtr<Gtk::Application>& app, MainWindow& window, uint64_t i)
{
    window.present_sprite_window(i);
    for (Gtk::Window* w : app->get_windows())
        if (auto* e = dynamic_cast<SpriteWindow*>(w); e && e->get_title() == sprite_label(i))
            return *e;
    std::abort();   // the window presents every sprite the song has
}

// The views on their own: the big song's start, editors, keys, undo and redo.
void measure_views(Glib::RefPtr<Gtk::Application>& app, const std::string& big)
{
    double t0 = now_ms();
    auto window = make_window(app, big);
    window->show();
    next_frame(*window);
    std::printf("big song (256 x 16, 2000 entries) start to first frame: %7.1f ms  (peak %.0f MB)\n", now_ms() - t0,
                peak_mb());

    stats_t first, again;
    for (uint64_t i : {0, 1, 17, 100, 200, 255}) {
        first.add(to_frame(editor_of(app, *window, i), [&] { window->present_sprite_window(i); }));
        editor_of(app, *window, i).hide();
        settle();
        again.add(to_frame(editor_of(app, *window, i), [&] { window->present_sprite_window(i); }));
        editor_of(app, *window, i).hide();
        settle();
    }
    std::printf("editor presented to its first frame (16 beats): first median %.1f max %.1f ms, again median "
                "%.1f max %.1f ms\n",
                first.at(0.5), first.max(), again.at(0.5), again.max());

    window->present();
    settle();
    const GdkModifierType control = GDK_CONTROL_MASK, shift_control = GdkModifierType(GDK_CONTROL_MASK | GDK_SHIFT_MASK);
    std::printf("%-34s %13s %13s %13s\n", "edit to the next frame (ms)", "edit med/max", "undo med/max",
                "redo med/max");
    struct place_t { const char* where; int rights; };
    int cursor = -1;
    for (place_t place : {place_t{"strip key at its start", 1}, place_t{"strip key in its middle", 1001},
                          place_t{"strip key at its end", 2001}}) {
        for (; cursor < place.rights - 1; ++cursor)
            press(*window, GDK_KEY_Right);
        next_frame(*window);
        stats_t edit, undo, redo;
        for (int k = 0; k < 20; ++k) {
            edit.add(to_frame(*window, [&] { press(*window, GDK_KEY_5); }));
            undo.add(to_frame(*window, [&] { press(*window, GDK_KEY_z, control); }));
            redo.add(to_frame(*window, [&] { press(*window, GDK_KEY_z, shift_control); }));
        }
        cursor += 20;
        std::printf("%-34s %6.1f/%6.1f %6.1f/%6.1f %6.1f/%6.1f\n", place.where, edit.at(0.5), edit.max(),
                    undo.at(0.5), undo.max(), redo.at(0.5), redo.max());
    }
    SpriteWindow& editor = editor_of(app, *window, 100);
    NoteGrid& grid = *stepmill_test::find_all<NoteGrid>(editor).at(0);
    next_frame(editor);
    stats_t edit, undo, redo;
    for (int k = 0; k < 20; ++k) {
        edit.add(to_frame(editor, [&] { grid.toggle(uint64_t(k) % 34, 3); }));
        undo.add(to_frame(editor, [&] { press(editor, GDK_KEY_z, control); }));
        redo.add(to_frame(editor, [&] { press(editor, GDK_KEY_z, shift_control); }));
    }
    std::printf("%-34s %6.1f/%6.1f %6.1f/%6.1f %6.1f/%6.1f\n", "note switched in an editor", edit.at(0.5),
                edit.max(), undo.at(0.5), undo.max(), redo.at(0.5), redo.max());
    editor.hide();
    window->hide();
    settle();
}

struct phase_t {
    const char* name;
    std::function<void(MainWindow&, int)> action;   // the k-th action of the phase
};

// A sequence of 16-beat sprites with a closed hi-hat on every beat plays at
// 180 bpm, so its hi-hats fall on a grid of 4000 frames; each phase repeats
// one kind of work on the main loop every 37 ms and reports how far the
// hi-hats the probe hears stray from that grid.
void measure_playing(Glib::RefPtr<Gtk::Application>& app, probe_process_t& probe, double seconds,
                     const std::string& big)
{
    std::string path = "/tmp/stepmill-bench-hats-" + std::to_string(getpid()) + ".trm";
    {
        Song song;
        song.bpm = 180;
        song.default_beats = 16;
        song.reset_sprites(36);
        for (Sprite& s : song.sprites)
            for (uint64_t b = 0; b < 16; ++b) s.notes[b].set(42);
        song.sequence = {0, 1, 2, 3, 4, 5, 6, 7};
        song.write(path);
    }
    ScriptedFileDialogs* dialogs = nullptr;
    auto window = make_window(app, path, &dialogs);
    window->show();
    next_frame(*window);
    press(*window, GDK_KEY_Right);
    auto& play = *stepmill_test::find_all<Gtk::Button>(*window, [](Gtk::Button& b) {
        return b.get_label() == "再生/停止";
    }).at(0);

    const std::vector<phase_t> phases = {
        {"nothing (baseline)", [](MainWindow&, int) {}},
        {"present and close editors",
         [&](MainWindow& w, int k) {
             uint64_t i = uint64_t(k / 2) % 36;
             if (k % 2 == 0) w.present_sprite_window(i);
             else editor_of(app, w, i).hide();
         }},
        {"toggle notes",
         [&](MainWindow& w, int k) {
             stepmill_test::find_all<NoteGrid>(editor_of(app, w, 5)).at(0)->toggle(uint64_t(k) % 8, uint64_t(k / 8) % 16);
         }},
        {"insert and delete entries",
         [](MainWindow& w, int k) { press(w, k % 3 == 2 ? GDK_KEY_BackSpace : GDK_KEY_0 + guint(k % 10)); }},
        {"undo and redo", [](MainWindow& w, int k) {
             press(w, GDK_KEY_z, k % 2 ? GdkModifierType(GDK_CONTROL_MASK | GDK_SHIFT_MASK) : GDK_CONTROL_MASK);
         }},
    };

    std::printf("\nplaying while editing: 180 bpm, a hi-hat every 4000 frames, actions every 37 ms, %.0f s a phase\n",
                seconds);
    std::printf("%-28s %7s %8s %14s %14s\n", "phase", "beats", "actions", "error_p99_fr", "error_max_fr");
    auto loop = Glib::MainLoop::create();
    for (const phase_t& phase : phases) {
        probe.clear();
        play.clicked();
        int k = 0;
        auto tick = Glib::signal_timeout().connect(
            [&] {
                phase.action(*window, k++);
                return true;
            },
            37);
        Glib::signal_timeout().connect_once([&] { loop->quit(); }, unsigned(seconds * 1000));
        loop->run();
        tick.disconnect();
        play.clicked();
        usleep(100000);
        std::vector<uint32_t> frames;
        for (const auto& ev : probe.events())
            if (ev.bytes.size() == 3 && ev.bytes[0] == 0x99 && ev.bytes[1] == 42 && ev.bytes[2] != 0)
                frames.push_back(ev.frame);
        stats_t error;
        for (size_t i = 0; i < frames.size(); ++i)
            error.add(std::fabs(double(uint32_t(frames[i] - frames[0])) - double(i) * 4000.0));
        std::printf("%-28s %7zu %8d %14.0f %14.0f\n", phase.name, frames.size(), k, error.at(0.99), error.max());
        std::fflush(stdout);
        for (Gtk::Window* w : app->get_windows())
            if (w != window.get()) w->hide();
        window->present();
        settle();
    }

    // Opening the big song while playing: the one action allowed to hold the main loop.
    play.clicked();
    double open_ms = 0;
    dialogs->paths = {big};
    dialogs->save_choices = {SaveChoice::discard};   // the phases changed the song
    Glib::signal_timeout().connect_once(
        [&] {
            double t0 = now_ms();
            window->get_action_group("stepmill")->activate_action("Open");
            open_ms = now_ms() - t0;
        },
        500);
    Glib::signal_timeout().connect_once([&] { loop->quit(); }, 1500);
    loop->run();
    play.clicked();
    std::printf("%-28s main loop held %.0f ms\n", "open the big song", open_ms);
    std::remove(path.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    if (!(seconds > 0)) {
        std::fprintf(stderr, "usage: bench_song_views [seconds per playing phase]\n");
        return 2;
    }
    int gtk_argc = 1;
    if (!gtk_init_check(&gtk_argc, &argv)) {
        std::fprintf(stderr, "bench_song_views: no display; run it under xvfb-run\n");
        return 1;
    }
    Gtk::Main::init_gtkmm_internals();
    g_setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/stepmill-bench", TRUE);
    g_setenv("XDG_STATE_HOME", "/tmp/stepmill-bench-state", TRUE);   // never the user's recovery file
    auto app = Gtk::Application::create("org.stepmill.bench.views", Gio::APPLICATION_NON_UNIQUE);
    app->register_application();
    std::string big = write_big_song();
    std::printf("base: peak %.0f MB before any window\n", peak_mb());
    measure_views(app, big);
    std::string server = "stepmill-bench-views-" + std::to_string(getpid());
    std::string start = std::string(JACK_SERVER_SCRIPT) + " start " + server + " 64";
    int status = 0;
    if (std::system(start.c_str()) != 0) {
        std::printf("playing while editing: could not start the JACK server\n");
        status = 1;
    } else {
        setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
        {
            probe_process_t probe;
            midi_out.reset(create_midi_out());
            if (probe.wait_ready() && midi_out->open("probe:in")) {
                measure_playing(app, probe, seconds, big);
            } else {
                std::printf("playing while editing: the probe or the port did not open\n");
                status = 1;
            }
            midi_out.reset();
        }
        std::string stop = std::string(JACK_SERVER_SCRIPT) + " stop " + server;
        if (std::system(stop.c_str()) != 0) status = 1;
    }
    std::remove(big.c_str());
    return status;
}
