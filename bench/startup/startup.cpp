// Start-up time and peak memory of the program's window: from process start
// to the main window's first frame drawn, for the default song and for a big
// song (256 sprites of 16 beats, a 2,000-entry sequence). Run under Xvfb:
//   xvfb-run -a bench_startup [runs]
// Each run is a fresh process (this program started again in child mode), so
// that the figures include loading the libraries and the fonts. The MIDI port
// is the in-memory platform: the figures are the window's, not a device's.
#include "main_window.h"
#include "midi_memory_platform.h"
#include "program.h"

#include <glibmm/main.h>
#include <gtkmm/application.h>
#include <gtkmm/label.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

double monotonic_ms()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

long vm_hwm_kb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmHWM:") == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// What makes the start-up's floor: the toolkit's own window with one label.
const char bare[] = "--bare";

// Child mode: the program's own start-up (or the floor's), then one line
// "<ms> <kB>" once the window has drawn its first frame.
// argv: self --child START_MS [song | --bare]
int child(int argc, char** argv)
{
    const double start_ms = std::strtod(argv[2], nullptr);
    const bool floor = argc > 3 && std::strcmp(argv[3], bare) == 0;
    midi_memory_platform_t platform;
    platform.out_devices = {"bench synth"};
    midi_out.reset(create_midi_out());
    if (!midi_out->open(0u))
        return 2;

    // The window reads argv[2] as its song: shape the vector as the program's.
    static char name[] = "stepmill";
    static char device[] = "0";
    std::vector<char*> args = {name, device};
    if (argc > 3)
        args.push_back(argv[3]);
    args.push_back(nullptr);
    int count = static_cast<int>(args.size() - 1);
    char** vector = args.data();

    stepmill::prepare_toolkit();   // the floor's toolkit set up as the program's
    auto application = Gtk::Application::create(count, vector, "org.stepmill.StartupBench",
                                                 Gio::APPLICATION_HANDLES_COMMAND_LINE |
                                                     Gio::APPLICATION_NON_UNIQUE);
    std::unique_ptr<Gtk::Window> shown;
    if (floor) {
        shown = std::make_unique<Gtk::Window>();
        shown->add(*Gtk::manage(new Gtk::Label("stepmill")));
        shown->show_all_children();
    } else {
        auto main_window = std::make_unique<stepmill::MainWindow>(count, vector, application);
        application->signal_handle_local_options().connect(
            sigc::mem_fun(*main_window, &stepmill::MainWindow::on_handle_local_options));
        shown = std::move(main_window);
    }
    Gtk::Window& window = *shown;
    bool drawn = false;
    window.signal_draw().connect(
        [&](const Cairo::RefPtr<Cairo::Context>&) {
            if (!drawn) {
                drawn = true;
                const double ms = monotonic_ms() - start_ms;
                Glib::signal_idle().connect_once([&application, &window, ms] {
                    std::printf("%.1f %ld\n", ms, vm_hwm_kb());
                    std::fflush(stdout);
                    window.hide();
                    application->quit();
                });
            }
            return false;
        },
        true);
    application->register_application();
    application->add_window(window);
    window.show();
    application->run();
    midi_out.reset();
    return drawn ? 0 : 3;
}

bool write_big_song(const std::string& path)
{
    Song song;
    song.default_beats = 16;
    song.reset_sprites(256);
    std::mt19937 random(7);
    for (Sprite& sprite : song.sprites)
        for (uint64_t beat = 0; beat < sprite.beats; beat += 2)
            sprite.notes[beat].set(35 + random() % 40);
    for (int i = 0; i < 2000; ++i)
        song.sequence.push_back(static_cast<uint32_t>(random() % 256));
    return song.write(path);
}

struct Figures {
    std::vector<double> ms;
    std::vector<long> kb;
};

bool measure(const char* self, const std::string& song, int runs, Figures& figures)
{
    for (int r = 0; r < runs; ++r) {
        int pipe_fds[2];
        if (pipe(pipe_fds) != 0)
            return false;
        const std::string start = std::to_string(monotonic_ms());
        pid_t pid = fork();
        if (pid == 0) {
            dup2(pipe_fds[1], STDOUT_FILENO);
            close(pipe_fds[0]);
            close(pipe_fds[1]);
            if (song.empty())
                execl(self, self, "--child", start.c_str(), static_cast<char*>(nullptr));
            else
                execl(self, self, "--child", start.c_str(), song.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipe_fds[1]);
        char buffer[128] = {};
        ssize_t got = read(pipe_fds[0], buffer, sizeof buffer - 1);
        close(pipe_fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        double ms = 0;
        long kb = 0;
        if (got <= 0 || std::sscanf(buffer, "%lf %ld", &ms, &kb) != 2 || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "run %d failed (status %d)\n", r, status);
            return false;
        }
        figures.ms.push_back(ms);
        figures.kb.push_back(kb);
    }
    return true;
}

void report(const char* what, Figures f)
{
    std::sort(f.ms.begin(), f.ms.end());
    std::sort(f.kb.begin(), f.kb.end());
    std::printf("%-34s first frame: median %7.1f ms, min %7.1f, max %7.1f;  VmHWM: median %6.1f MB, max %6.1f MB\n",
                what, f.ms[f.ms.size() / 2], f.ms.front(), f.ms.back(), f.kb[f.kb.size() / 2] / 1024.0,
                f.kb.back() / 1024.0);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0)
        return child(argc, argv);
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "no display: run under xvfb-run -a\n");
        return 1;
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    char dir_template[] = "/tmp/stepmill-startup-XXXXXX";
    if (!mkdtemp(dir_template))
        return 1;
    const std::string big = std::string(dir_template) + "/big.trm";
    if (!write_big_song(big)) {
        std::fprintf(stderr, "cannot write %s\n", big.c_str());
        return 1;
    }
    Figures small_figures, big_figures, floor_figures;
    bool ok = measure("/proc/self/exe", "", runs, small_figures) &&
              measure("/proc/self/exe", big, runs, big_figures) &&
              measure("/proc/self/exe", bare, runs, floor_figures);
    unlink(big.c_str());
    rmdir(dir_template);
    if (!ok)
        return 1;
    std::printf("startup, %d runs each (goal for the default song: 100 ms, 50 MB)\n", runs);
    report("default song (36 sprites)", small_figures);
    report("256 sprites x 16 beats, 2000 entries", big_figures);
    report("the toolkit's window, one label", floor_figures);
    return 0;
}
