// Plays a demanding song through the real MIDI port to our probe on a private
// JACK server, and prints how well the notes keep time and what it costs.
//
//   bench_playback [seconds per run, default 30] [periods..., default 64 256 1024]
#include "midi_out.h"
#include "play_core.h"
#include "player.h"
#include "probe_process.h"
#include "timed_port.h"
#include "program.h"

#include <glibmm/main.h>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

double cpu_seconds()
{
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) + double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
}

// The calling thread's alone: the player's work on the main loop, without the
// MIDI service's own thread (RtMidi's JACK process callback, once a period).
double thread_cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double wall_seconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// 16-beat hi-hats with kick and snare, a 12-beat shuffle and a 7-beat fill, at 180 bpm.
void fill_demanding_song(Song& song)
{
    song.bpm = 180;
    song.sprites.clear();
    song.sprites.emplace_back(&song, 16);
    song.sprites.emplace_back(&song, 12);
    song.sprites.emplace_back(&song, 7);
    Sprite& straight = song.sprites[0];
    for (int b = 0; b < 16; ++b) straight.notes[b].set(b % 4 == 2 ? 46 : 42);
    for (int b : {0, 6, 8, 11}) straight.notes[b].set(36);
    for (int b : {4, 12}) straight.notes[b].set(38);
    Sprite& shuffle = song.sprites[1];
    for (int b = 0; b < 12; b += 3) shuffle.notes[b].set(51), shuffle.notes[b + 2].set(42);
    for (int b : {0, 6}) shuffle.notes[b].set(36);
    for (int b : {3, 9}) shuffle.notes[b].set(38);
    Sprite& fill = song.sprites[2];
    for (int b = 0; b < 7; ++b) fill.notes[b].set(b < 2 ? 50 : b < 4 ? 47 : b < 6 ? 45 : 49);
    fill.notes[6].set(36);
    song.sequence = {0, 0, 1, 0, 0, 2, 1, 1, 0, 2};
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * double(v.size() - 1) + 0.5))];
}

struct run_result_t {
    size_t expected = 0, received = 0;
    bool same_order = false;
    double median_us = 0, p99_us = 0, max_us = 0, drift_us = 0;
    double send_p99_us = 0;   // of the moments the player sent, before the MIDI service
    double cpu_timer = 0, cpu_idle = 0, cpu_main = 0;
};

// Plays `seconds` of the song with the player's own timer, then the same song
// on an always-ready idle handler for comparison of the CPU time.
bool run(unsigned period, double seconds, run_result_t& result)
{
    std::string server = "stepmill-bench-" + std::to_string(getpid()) + "-" + std::to_string(period);
    std::string start = std::string(JACK_SERVER_SCRIPT) + " start " + server + " " + std::to_string(period);
    if (std::system(start.c_str()) != 0) return false;
    setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    bool ok = false;
    {
        probe_process_t probe;
        // The moment each note start left the player.
        auto* timed = new timed_out_t(create_midi_out(), [](const unsigned char* buf, size_t len) {
            return len == 3 && buf[0] == 0x99 && buf[2] != 0;
        });
        midi_out.reset(timed);
        if (probe.wait_ready() && midi_out->open("probe:in")) {
            ok = true;
            Song song;
            fill_demanding_song(song);
            auto loop = Glib::MainLoop::create();
            Player player;

            // The player's own timer.
            double cpu0 = cpu_seconds(), main0 = thread_cpu_seconds(), wall0 = wall_seconds();
            player.start_sequence(song);
            Glib::signal_timeout().connect_once([&] { loop->quit(); }, static_cast<unsigned>(seconds * 1000));
            loop->run();
            player.stop();
            const double wall = wall_seconds() - wall0;
            result.cpu_timer = (cpu_seconds() - cpu0) / wall * 100.0;
            result.cpu_main = (thread_cpu_seconds() - main0) / wall * 100.0;
            const uint64_t played_us = uint64_t(player.last_elapsed_ms) * 1000 + 1;

            // The notes that should have sounded, and those that did.
            play_plan_t plan{&song, Sequence, 0, song.bpm / 240.0};
            NoteSet sounding;
            play_span_t ideal;
            play_span(plan, 0, played_us, sounding, ideal);
            std::vector<play_event_t> starts;
            for (const play_event_t& ev : ideal.events)
                if (ev.on) starts.push_back(ev);
            usleep(200000);   // the last period reaches the probe
            std::vector<probe_process_t::event_t> got;
            for (const auto& ev : probe.events())
                if (ev.bytes.size() == 3 && ev.bytes[0] == 0x99 && ev.bytes[2] != 0) got.push_back(ev);
            result.expected = starts.size();
            result.received = got.size();
            result.same_order = got.size() == starts.size();
            std::vector<double> errors, send_errors;
            for (size_t i = 0; i < std::min(timed->sent_us.size(), starts.size()); ++i)
                send_errors.push_back(std::fabs(timed->sent_us[i] - timed->sent_us[0] -
                                                double(starts[i].time_us - starts[0].time_us)));
            result.send_p99_us = percentile(send_errors, 0.99);
            for (size_t i = 0; i < std::min(got.size(), starts.size()); ++i) {
                if (got[i].bytes[1] != starts[i].note) result.same_order = false;
                double ideal_us = double(starts[i].time_us - starts[0].time_us);
                double real_us = double(got[i].usec - got[0].usec);
                errors.push_back(real_us - ideal_us);
            }
            std::vector<double> magnitude;
            for (double e : errors) magnitude.push_back(std::fabs(e));
            result.median_us = percentile(magnitude, 0.5);
            result.p99_us = percentile(magnitude, 0.99);
            result.max_us = magnitude.empty() ? 0 : *std::max_element(magnitude.begin(), magnitude.end());
            // Drift: the mean error of the last tenth against that of the first tenth.
            size_t tenth = std::max<size_t>(1, errors.size() / 10);
            if (errors.size() >= 2 * tenth) {
                double first = 0, last = 0;
                for (size_t i = 0; i < tenth; ++i) first += errors[i], last += errors[errors.size() - 1 - i];
                result.drift_us = (last - first) / double(tenth);
            }

            // The same work on an idle handler that is always ready.
            const double idle_seconds = std::min(seconds, 5.0);
            player.start_sequence(song);
            player.idle_connection.disconnect();
            sigc::connection idle = Glib::signal_idle().connect(sigc::mem_fun(player, &Player::on_idle),
                                                                Glib::PRIORITY_DEFAULT_IDLE);
            cpu0 = cpu_seconds();
            wall0 = wall_seconds();
            Glib::signal_timeout().connect_once([&] { loop->quit(); }, static_cast<unsigned>(idle_seconds * 1000));
            loop->run();
            idle.disconnect();
            player.stop();
            result.cpu_idle = (cpu_seconds() - cpu0) / (wall_seconds() - wall0) * 100.0;
        }
        midi_out.reset();
    }
    std::string stop = std::string(JACK_SERVER_SCRIPT) + " stop " + server;
    if (std::system(stop.c_str()) != 0) return false;
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    double seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
    std::vector<unsigned> periods;
    for (int i = 2; i < argc; ++i) periods.push_back(static_cast<unsigned>(std::atoi(argv[i])));
    if (periods.empty()) periods = {64, 256, 1024};
    if (!(seconds > 0)) {
        std::fprintf(stderr, "usage: bench_playback [seconds] [periods...]\n");
        return 2;
    }
    std::printf("playback at 180 bpm for %.0f s per run, JACK dummy server at 48 kHz\n", seconds);
    std::printf("cpu_%%: the whole process, RtMidi's JACK thread included; main_cpu_%%: the main loop "
                "(the player) alone; idle_cpu_%%: an always-ready idle handler\n");
    std::printf("%8s %9s %9s %6s %10s %8s %8s %9s %12s %9s %11s %10s\n", "period", "expected", "received", "order",
                "median_us", "p99_us", "max_us", "drift_us", "send_p99_us", "cpu_%", "main_cpu_%", "idle_cpu_%");
    bool all = true;
    for (unsigned period : periods) {
        run_result_t r;
        if (!run(period, seconds, r)) {
            std::printf("%8u  (could not start the JACK server, the probe or the port)\n", period);
            all = false;
            continue;
        }
        std::printf("%8u %9zu %9zu %6s %10.0f %8.0f %8.0f %9.0f %12.0f %9.2f %11.2f %10.1f\n", period,
                    r.expected, r.received, r.same_order ? "same" : "DIFF", r.median_us, r.p99_us, r.max_us,
                    r.drift_us, r.send_p99_us, r.cpu_timer, r.cpu_main, r.cpu_idle);
        std::fflush(stdout);
    }
    return all ? 0 : 1;
}
