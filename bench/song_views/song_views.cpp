// How quickly the song views appear and answer, with real widgets in a real
// window (run it under Xvfb), and how much the user's work on them delays the
// beats of a sequence playing through the real MIDI port to our probe on a
// private JACK server.
//
//   bench_song_views [seconds per playing phase, default 3]
#include "main_window.h"
#include "midi_out.h"
#include "probe_process.h"
#include "program.h"
#include "sequence_widget.h"
#include "sprite_window.h"

#include <gdk/gdkkeysyms.h>
#include <glibmm/main.h>
#include <gtk/gtk.h>
#include <gtkmm/main.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <chrono>
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

double resident_mb()
{
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
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

// Runs the main loop through the widget's next frame and gives the time the
// frame itself took, from before its layout to after its paint: with the
// handler's own time, the work a change costs, apart from the wait for the
// display's refresh.
double next_frame_work(Gtk::Widget& widget)
{
    GdkFrameClock* clock = gtk_widget_get_frame_clock(widget.gobj());
    if (!clock) return 0;
    struct span_t { double begin = -1, end = -1; } span;
    auto on_begin = +[](GdkFrameClock*, gpointer data) {
        auto* s = static_cast<span_t*>(data);
        if (s->begin < 0) s->begin = now_ms();
    };
    auto on_end = +[](GdkFrameClock*, gpointer data) {
        auto* s = static_cast<span_t*>(data);
        if (s->begin >= 0 && s->end < 0) s->end = now_ms();
    };
    gulong b = g_signal_connect(clock, "before-paint", G_CALLBACK(on_begin), &span);
    gulong e = g_signal_connect(clock, "after-paint", G_CALLBACK(on_end), &span);
    next_frame(widget);
    double end = now_ms() + 1000;
    while (span.end < 0 && now_ms() < end)
        Glib::MainContext::get_default()->iteration(true);
    g_signal_handler_disconnect(clock, b);
    g_signal_handler_disconnect(clock, e);
    return span.end >= 0 ? span.end - span.begin : 0;
}

void press(MainWindow& window, guint keyval)
{
    GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(window.get_window()->gobj()));
    event->key.keyval = keyval;
    event->key.send_event = TRUE;
    gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
    gtk_widget_event(GTK_WIDGET(window.gobj()), event);
    gdk_event_free(event);
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

// What the Open command does with the window after a successful read.
void rebuild_views(MainWindow& window)
{
    window.clear_song_views();
    window.cursor_index = -1;
    if (window.separate && window.separate->get_parent())
        window.strip_box.remove(*window.separate);
    delete window.separate;
    window.separate = nullptr;
    window.menu_bar.add_sprite_actions(window.song.sprites.size());
    window.icon_buttons.rebuild(window.song.sprites.size());
    window.build_song_views();
    window.bpm_spin.set_value(double(window.song.bpm));
    window.show_all_children(true);
}

std::unique_ptr<MainWindow> make_window(Glib::RefPtr<Gtk::Application>& app)
{
    std::string name = "stepmill", device = "probe";
    char* argv[] = {&name[0], &device[0], nullptr};
    return std::make_unique<MainWindow>(2, argv, app);
}

// The views on their own: start, the big song's open, editors, keys.
void measure_views(Glib::RefPtr<Gtk::Application>& app, const std::string& big)
{
    double t0 = now_ms();
    auto window = make_window(app);
    window->show();
    next_frame(*window);
    std::printf("default song, window built to first frame:      %8.1f ms  (peak %.0f MB)\n", now_ms() - t0,
                peak_mb());

    double r0 = now_ms();
    std::ofstream discard("/dev/null");
    window->song.read(big, discard);
    double read_ms = now_ms() - r0;
    t0 = now_ms();
    rebuild_views(*window);
    next_frame(*window);
    std::printf("big song (256 x 16, 2000 entries) open to frame:  %8.1f ms  (file read %.1f ms before)\n",
                now_ms() - t0, read_ms);
    std::printf("  resident after open %.0f MB, peak %.0f MB\n", resident_mb(), peak_mb());

    stats_t first, again;
    for (uint64_t i : {0, 1, 17, 100, 200, 255}) {
        t0 = now_ms();
        window->present_sprite_window(i);
        next_frame(*window->sprite_windows[i]);
        first.add(now_ms() - t0);
        window->sprite_windows[i]->hide();
        settle();
        t0 = now_ms();
        window->present_sprite_window(i);
        next_frame(*window->sprite_windows[i]);
        again.add(now_ms() - t0);
        window->sprite_windows[i]->hide();
        settle();
    }
    std::printf("editor presented to its first frame (16 beats):  first median %.1f max %.1f ms, again "
                "median %.1f max %.1f ms\n",
                first.at(0.5), first.max(), again.at(0.5), again.max());

    window->present();
    settle();
    struct place_t { const char* where; uint64_t after; };
    for (place_t place : {place_t{"start", 0}, place_t{"middle", 999}, place_t{"end", 1999}}) {
        window->on_player_position(place.after);
        if (place.after == 0) press(*window, GDK_KEY_Left);   // the bar at 0
        next_frame(*window);
        stats_t insert, erase, insert_work, erase_work;
        for (guint key : {GDK_KEY_5, GDK_KEY_BackSpace}) {
            for (int k = 0; k < 20; ++k) {
                t0 = now_ms();
                press(*window, key);
                double handled = now_ms() - t0;
                double frame = next_frame_work(*window);
                (key == GDK_KEY_5 ? insert : erase).add(now_ms() - t0);
                (key == GDK_KEY_5 ? insert_work : erase_work).add(handled + frame);
            }
        }
        std::printf("key in the big strip at its %-6s: insert to frame median %.1f max %.1f ms (work median %.1f "
                    "max %.1f), BackSpace to frame median %.1f max %.1f ms (work median %.1f max %.1f)\n",
                    place.where, insert.at(0.5), insert.max(), insert_work.at(0.5), insert_work.max(),
                    erase.at(0.5), erase.max(), erase_work.at(0.5), erase_work.max());
    }
    stats_t arrows;
    for (int k = 0; k < 20; ++k) {
        t0 = now_ms();
        press(*window, k < 10 ? GDK_KEY_Left : GDK_KEY_Right);
        next_frame(*window);
        arrows.add(now_ms() - t0);
    }
    std::printf("Left/Right in the big strip to frame:            median %.1f max %.1f ms\n", arrows.at(0.5),
                arrows.max());
    window->hide();
    settle();
}

struct phase_t {
    const char* name;
    std::function<void(MainWindow&, int)> action;   // the k-th action of the phase
};

// A sequence of 16-beat sprites with a closed hi-hat on every beat plays at
// 180 bpm, so its hi-hats fall on a grid of 83.3 ms; each phase repeats one
// kind of work on the main loop every 37 ms and reports the hi-hats' lateness.
void measure_playing(Glib::RefPtr<Gtk::Application>& app, probe_process_t& probe, double seconds,
                     const std::string& big)
{
    auto window = make_window(app);
    Song& song = window->song;
    song.bpm = 180;
    song.default_beats = 16;
    song.reset_sprites(36);
    for (Sprite& s : song.sprites)
        for (uint64_t b = 0; b < 16; ++b) s.notes[b].set(42);
    song.sequence = {0, 1, 2, 3, 4, 5, 6, 7};
    rebuild_views(*window);
    window->show();
    next_frame(*window);
    window->on_player_position(3);

    const double beat_ms = 240.0 / 180.0 / 16.0 * 1000.0;
    const std::vector<phase_t> phases = {
        {"nothing (baseline)", [](MainWindow&, int) {}},
        {"present and close editors",
         [](MainWindow& w, int k) {
             uint64_t i = uint64_t(k / 2) % 36;
             if (k % 2 == 0) w.present_sprite_window(i);
             else w.sprite_windows[i]->hide();
         }},
        {"toggle notes",
         [](MainWindow& w, int k) {
             if (k == 0) w.present_sprite_window(5);
             w.sprite_windows[5]->rows[uint64_t(k) % 8]->buttons[uint64_t(k / 8) % 16]->clicked();
         }},
        {"insert and delete entries",
         [](MainWindow& w, int k) { press(w, k % 3 == 2 ? GDK_KEY_BackSpace : GDK_KEY_0 + guint(k % 10)); }},
        {"Left and Right",
         [](MainWindow& w, int k) { press(w, k % 2 ? GDK_KEY_Right : GDK_KEY_Left); }},
    };

    std::printf("\nplaying while editing: 180 bpm, a beat every %.1f ms, actions every 37 ms, %.0f s a phase\n",
                beat_ms, seconds);
    std::printf("%-28s %7s %8s %12s %12s\n", "phase", "beats", "actions", "error_p99_ms", "error_max_ms");
    auto loop = Glib::MainLoop::create();
    for (const phase_t& phase : phases) {
        probe.clear();
        window->player.start_sequence(song);
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
        window->player.stop();
        usleep(100000);
        // Each hi-hat's frame against the grid from the first one.
        std::vector<uint32_t> frames;
        for (const auto& ev : probe.events())
            if (ev.bytes.size() == 3 && ev.bytes[0] == 0x99 && ev.bytes[1] == 42 && ev.bytes[2] != 0)
                frames.push_back(ev.frame);
        stats_t arrive;
        for (size_t i = 0; i < frames.size(); ++i)
            arrive.add(std::fabs(double(uint32_t(frames[i] - frames[0])) / 48.0 - double(i) * beat_ms));
        std::printf("%-28s %7zu %8d %12.3f %12.3f\n", phase.name, frames.size(), k, arrive.at(0.99), arrive.max());
        std::fflush(stdout);
        for (SpriteWindow* editor : window->sprite_windows)
            if (editor) editor->hide();
        window->present();
        settle();
    }

    // Opening the big song while playing: the one action allowed to be slow.
    window->player.start_sequence(song);
    double open_ms = 0;
    Glib::signal_timeout().connect_once(
        [&] {
            double t0 = now_ms();
            std::ofstream discard("/dev/null");
            song.read(big, discard);
            rebuild_views(*window);
            open_ms = now_ms() - t0;
        },
        500);
    Glib::signal_timeout().connect_once([&] { loop->quit(); }, 1500);
    loop->run();
    window->player.stop();
    size_t built = 0;
    for (SpriteWindow* editor : window->sprite_windows)
        built += editor != nullptr;
    std::printf("%-28s main loop held %.0f ms (%zu editors rebuilt hidden)\n", "open the big song", open_ms, built);
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
    auto app = Gtk::Application::create("org.stepmill.bench.views", Gio::APPLICATION_NON_UNIQUE);
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
