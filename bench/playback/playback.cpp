// Plays a demanding song to our probe on private JACK servers and prints how
// well the notes keep time and what it costs, for three ways of playing:
//
//   engine    the program's engine on its own JACK client, each event at its frame
//   thread    the engine on the sender thread, through RtMidi's JACK output
//             (how the ALSA sequencer and every other service are served)
//   mainloop  playback as it ran before the engine: ticks on the GUI main
//             loop that send "now" through RtMidi
//   bare      no playback, only a JACK client with an empty process callback:
//             the floor of what any JACK client costs here
//
// each idle, with two busy loops on both cores, and with the main loop
// blocked for 500 ms every 2 s.
//
//   bench_playback [seconds per run, default 10] [periods..., default 64 256 1024 2048]
#include "midi_jack_driver.h"
#include "midi_out.h"
#include "midi_platform.h"
#include "midi_thread_driver.h"
#include "play_core.h"
#include "player.h"
#include "probe_process.h"
#include "program.h"

#include <RtMidi.h>
#include <glibmm/main.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/transport.h>

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr double rate = 48000.0;   // the servers' sample rate

// The CPU time of this process's threads but `leave_out` (the probe's reader,
// the benchmark's own work), from the scheduler's count in nanoseconds.
double cpu_seconds(pid_t leave_out)
{
    double total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        if (task.path().filename() == std::to_string(leave_out)) continue;
        std::ifstream stat(task.path() / "schedstat");
        double ns = 0;
        stat >> ns;
        total += ns * 1e-9;
    }
    return total;
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

const unsigned char start_text[23] = {0x20, 0x00, 0x00, 'G', 'r', 'o', 'o', 'v', 'e', 'P', 'l',
                                      'o',  't',  't',  'e', 'r', 'S', 't', 'u', 'd', 'i', 'o', ' '};
const unsigned char stop_text[4] = {0x20, 0x01, 0x00, 0x00};

// Playback as it was before the engine: a main-loop timer that wakes at each
// beat (every 10 ms at the latest), works out what is due since its last
// tick, and sends it at once through RtMidi.
class mainloop_player_t : private play_sink_t {
public:
    explicit mainloop_player_t(RtMidiOut& out) : out(out) {}

    void start(const Song& song)
    {
        snapshot = std::make_unique<song_snapshot_t>(song);
        plan = play_plan_t{snapshot.get(), Sequence, 0, {}};
        plan.timeline.rate = 1e6;
        plan.timeline.bars_per_second = double(song.bpm) / 240.0;
        plan.timeline.anchor = now_us();
        state = play_state_t();
        done = plan.timeline.anchor;
        sysex(start_text, sizeof start_text);
        arm(0);
    }
    void stop()
    {
        timer.disconnect();
        sysex(stop_text, sizeof stop_text);
    }

private:
    static uint64_t now_us()
    {
        return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count());
    }
    void arm(unsigned ms)
    {
        timer = Glib::signal_timeout().connect([this] { return tick(); }, ms, Glib::PRIORITY_DEFAULT_IDLE);
    }
    bool tick()
    {
        const uint64_t now = now_us();
        play_span(plan, done, now + 1, state, *this);
        done = now + 1;
        const uint64_t next = next_beat(plan, done, state);
        const uint64_t wait = next == play_never ? 10 : std::min<uint64_t>(10, (next - std::min(next, now) + 999) / 1000);
        arm(static_cast<unsigned>(std::max<uint64_t>(1, wait)));
        return false;
    }
    void note(uint64_t, uint8_t n, uint8_t velocity) override
    {
        const unsigned char m[3] = {0x99, n, velocity};
        out.sendMessage(m, 3);
    }
    void position(uint64_t, uint64_t) override {}
    void pulse(uint64_t) override {}
    void step(uint64_t, uint64_t, uint32_t) override {}
    void sysex(const unsigned char* data, size_t len)
    {
        std::vector<unsigned char> m = {0xF0, 0x41, 0x10, 0x16, 0x12};
        unsigned sum = 0;
        for (size_t i = 0; i < len; ++i) m.push_back(data[i]), sum += data[i];
        m.push_back(static_cast<unsigned char>((0u - sum) & 0x7F));
        m.push_back(0xF7);
        out.sendMessage(&m);
    }

    RtMidiOut& out;
    std::unique_ptr<song_snapshot_t> snapshot;
    play_plan_t plan;
    play_state_t state;
    uint64_t done = 0;
    sigc::connection timer;
};

// A JACK client that does nothing in its period but clear its port.
class bare_client_t {
public:
    bare_client_t()
    {
        client = jack_client_open("stepmill", JackNoStartServer, nullptr);
        if (!client) return;
        port = jack_port_register(client, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client, process, this);
        jack_activate(client);
        jack_connect(client, jack_port_name(port), "probe:in");
    }
    ~bare_client_t()
    {
        if (client) jack_client_close(client);
    }
    bool ok() const { return client && port; }

private:
    static int process(jack_nframes_t frames, void* self)
    {
        jack_midi_clear_buffer(jack_port_get_buffer(static_cast<bare_client_t*>(self)->port, frames));
        return 0;
    }
    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
};

enum class way_t { engine, thread, mainloop, bare };
enum class load_t { idle, busy, stall };
const char* name_of(way_t w)
{
    return w == way_t::engine ? "engine" : w == way_t::thread ? "thread" : w == way_t::mainloop ? "mainloop" : "bare";
}
const char* name_of(load_t l) { return l == load_t::idle ? "idle" : l == load_t::busy ? "busy" : "stall"; }

struct result_t {
    size_t expected = 0, received = 0, reordered = 0;
    double median = 0, p99 = 0, max = 0, drift = 0;   // frames
    double cpu = 0;                                   // % of one core
    double late_p99_us = -1, late_max_us = -1;        // sender thread only
    int xruns = -1;                                   // engine only
    double pulse_p99 = -1, pulse_max = -1;            // MIDI clock: error of each pulse, frames
};

// Two processes that keep both cores busy until killed.
std::vector<pid_t> busy_loops()
{
    std::vector<pid_t> pids;
    for (int i = 0; i < 2; ++i) {
        pid_t pid = fork();
        if (pid == 0) {
            for (volatile unsigned long n = 0;; n = n + 1) {
            }
        }
        pids.push_back(pid);
    }
    return pids;
}

// Each clock pulse against its place: 24 a quarter note from the first one.
void measure_pulses(const Song& song, const std::vector<probe_process_t::event_t>& heard, result_t& r)
{
    std::vector<uint32_t> pulses;
    for (const auto& e : heard)
        if (e.bytes.size() == 1 && e.bytes[0] == 0xF8) pulses.push_back(e.frame);
    if (pulses.size() < 2) return;
    const double spacing = rate * 60.0 / double(song.bpm) / 24.0;
    std::vector<double> errors;
    for (size_t k = 0; k < pulses.size(); ++k)
        errors.push_back(std::fabs(double(uint32_t(pulses[k] - pulses[0])) - std::round(double(k) * spacing)));
    r.pulse_p99 = percentile(errors, 0.99);
    r.pulse_max = *std::max_element(errors.begin(), errors.end());
}

void measure(const Song& song, const std::vector<probe_process_t::event_t>& heard, result_t& r)
{
    std::vector<uint32_t> frames;
    std::vector<uint8_t> notes;
    for (const auto& e : heard)
        if (e.bytes.size() == 3 && e.bytes[0] == 0x99 && e.bytes[2] != 0) frames.push_back(e.frame), notes.push_back(e.bytes[1]);
    if (frames.empty()) return;
    const uint32_t stop_frame = heard.back().frame;

    // The song's note-ons from its start, in frames.
    const song_snapshot_t snapshot(song);
    play_plan_t plan{&snapshot, Sequence, 0, {}};
    plan.timeline.rate = rate;
    plan.timeline.bars_per_second = double(song.bpm) / 240.0;
    play_state_t state;
    play_record_t ideal;
    play_span(plan, 0, uint64_t(stop_frame - frames[0]) + uint64_t(rate), state, ideal);
    std::vector<play_record_t::event_t> ons;
    for (const auto& e : ideal.events)
        if (e.on()) ons.push_back(e);

    // The grid begins where the received notes sit on it, on the median.
    std::vector<double> offsets;
    for (size_t i = 0; i < std::min(frames.size(), ons.size()); ++i)
        offsets.push_back(double(int64_t(uint32_t(frames[i] - frames[0]))) - double(ons[i].time));
    const double anchor = double(frames[0]) + percentile(offsets, 0.5);
    std::vector<double> errors, magnitude;
    for (size_t i = 0; i < std::min(frames.size(), ons.size()); ++i) {
        if (notes[i] != ons[i].note) ++r.reordered;
        errors.push_back(double(frames[i]) - anchor - double(ons[i].time));
        magnitude.push_back(std::fabs(errors.back()));
    }
    r.received = frames.size();
    r.expected = size_t(std::count_if(ons.begin(), ons.end(), [&](const play_record_t::event_t& e) {
        return double(e.time) + anchor < double(stop_frame);
    }));
    r.median = percentile(magnitude, 0.5);
    r.p99 = percentile(magnitude, 0.99);
    r.max = *std::max_element(magnitude.begin(), magnitude.end());
    size_t tenth = std::max<size_t>(1, errors.size() / 10);
    if (errors.size() >= 2 * tenth) {
        double first = 0, last = 0;
        for (size_t i = 0; i < tenth; ++i) first += errors[i], last += errors[errors.size() - 1 - i];
        r.drift = (last - first) / double(tenth);
    }
}

bool run(way_t way, load_t load, double seconds, result_t& r)
{
    probe_process_t probe;
    if (!probe.wait_ready()) return false;
    Song song;
    fill_demanding_song(song);
    song.clock = way != way_t::mainloop;   // the engine's clock rides along
    auto loop = Glib::MainLoop::create();
    std::unique_ptr<midi_platform_t> through_rtmidi;
    std::unique_ptr<Player> player;
    std::unique_ptr<mainloop_player_t> old;
    RtMidiOut* old_out = nullptr;
    std::unique_ptr<bare_client_t> bare;

    if (way == way_t::bare) {
        bare = std::make_unique<bare_client_t>();
        if (!bare->ok()) return false;
    } else if (way == way_t::mainloop) {
        // Kept for the process's life, as the program kept RtMidi's JACK outputs.
        old_out = new RtMidiOut(RtMidi::UNIX_JACK, "stepmill");
        for (unsigned i = 0; i < old_out->getPortCount(); ++i)
            if (old_out->getPortName(i) == "probe:in") old_out->openPort(i, "stepmill");
        if (!old_out->isPortOpen()) return false;
        old = std::make_unique<mainloop_player_t>(*old_out);
    } else {
        if (way == way_t::thread) {
            through_rtmidi = make_rtmidi_platform(true);
            set_midi_platform(through_rtmidi.get());
        }
        midi_out.reset(create_midi_out());
        if (!midi_out->open("probe:in")) return false;
        player = std::make_unique<Player>();
    }
    usleep(200000);   // the new connection carries events

    std::vector<pid_t> loops = load == load_t::busy ? busy_loops() : std::vector<pid_t>();
    sigc::connection stall;
    if (load == load_t::stall)
        stall = Glib::signal_timeout().connect([] { usleep(500000); return true; }, 2000);
    const pid_t reader = probe.reader_thread();
    const double cpu0 = cpu_seconds(reader), wall0 = wall_seconds();
    if (player) player->start_sequence(song);
    if (old) old->start(song);
    Glib::signal_timeout().connect_once([&] { loop->quit(); }, static_cast<unsigned>(seconds * 1000));
    loop->run();
    if (player) player->stop();
    if (old) old->stop();
    r.cpu = (cpu_seconds(reader) - cpu0) / (wall_seconds() - wall0) * 100.0;
    stall.disconnect();
    for (pid_t pid : loops) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);

    if (way == way_t::thread) {
        std::vector<double> late;
        for (int64_t ns : static_cast<midi_thread_driver_t*>(midi_out->driver())->lateness()) late.push_back(ns / 1000.0);
        r.late_p99_us = percentile(late, 0.99);
        r.late_max_us = late.empty() ? 0 : *std::max_element(late.begin(), late.end());
    }
    if (way == way_t::engine) r.xruns = int(static_cast<midi_jack_driver_t*>(midi_out->driver())->xruns());
    player.reset();
    midi_out.reset();
    bare.reset();
    set_midi_platform(nullptr);
    if (old_out) old_out->closePort();
    usleep(300000);   // the last period reaches the probe
    measure(song, probe.events(), r);
    if (song.clock) measure_pulses(song, probe.events(), r);
    return true;
}

// Each run in a process of its own, so that what one way leaves behind
// (RtMidi's JACK outputs are never destroyed) costs the next nothing.
template <class result, class measure_t>
bool alone(result& r, measure_t&& measure)
{
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        result mine{};
        bool ok = measure(mine);
        if (ok && write(fds[1], &mine, sizeof mine) != ssize_t(sizeof mine)) ok = false;
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    bool ok = pid > 0 && read(fds[0], &r, sizeof r) == ssize_t(sizeof r);
    close(fds[0]);
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
    return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Another program on the server, which rolls the transport and notes the
// first period it rolls in.
class roller_t {
public:
    roller_t() : client(jack_client_open("roller", JackNoStartServer, nullptr))
    {
        if (!client) return;
        jack_set_process_callback(client, process, this);
        jack_activate(client);
    }
    ~roller_t()
    {
        if (client) jack_client_close(client);
    }
    std::atomic<uint32_t> first_rolling{0};
    jack_client_t* client;

private:
    static int process(jack_nframes_t, void* self)
    {
        auto* r = static_cast<roller_t*>(self);
        if (jack_transport_query(r->client, nullptr) == JackTransportRolling && r->first_rolling.load() == 0)
            r->first_rolling.store(jack_last_frame_time(r->client));
        return 0;
    }
};

// Frames from the transport's first rolling period to the first note.
bool transport_latency(double& frames)
{
    probe_process_t probe;
    midi_out.reset(create_midi_out());
    roller_t roller;
    if (!probe.wait_ready() || !midi_out->open("probe:in") || !roller.client) return false;
    Song song;
    fill_demanding_song(song);
    Player player;
    player.set_follow_transport(true);
    player.update(song);
    usleep(200000);
    jack_transport_locate(roller.client, 0);
    jack_transport_start(roller.client);
    auto loop = Glib::MainLoop::create();
    Glib::signal_timeout().connect_once([&] { loop->quit(); }, 500);
    loop->run();
    jack_transport_stop(roller.client);
    player.set_follow_transport(false);
    midi_out.reset();
    usleep(100000);
    for (const auto& e : probe.events())
        if (e.bytes.size() == 3 && e.bytes[0] == 0x99 && e.bytes[2] != 0) {
            frames = double(int32_t(e.frame - roller.first_rolling.load()));
            return true;
        }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    std::vector<unsigned> periods;
    for (int i = 2; i < argc; ++i) periods.push_back(static_cast<unsigned>(std::atoi(argv[i])));
    if (periods.empty()) periods = {64, 256, 1024, 2048};
    if (!(seconds > 0)) {
        std::fprintf(stderr, "usage: bench_playback [seconds] [periods...]\n");
        return 2;
    }
    std::printf("the sequence at 180 bpm for %.0f s per run, JACK dummy server at 48 kHz\n", seconds);
    std::printf("errors: |note-on frame - its frame on the song's grid|, the grid placed on the median; "
                "drift: mean error of the last tenth - first tenth; cpu: the process but the probe's reader, "
                "%% of one core; "
                "late: the sender thread's send time after the due time\n");
    std::printf("%6s %8s %5s %8s %8s %5s %7s %6s %6s %8s %8s %8s %8s %6s %9s %9s %6s %9s %9s\n", "period", "way",
                "load", "expected", "received", "order", "med_fr", "p99_fr", "max_fr", "med_us", "p99_us", "max_us",
                "drift_us", "cpu_%", "late_p99", "late_max", "xruns", "pulse_p99", "pulse_max");
    bool all = true;
    for (unsigned period : periods) {
        std::string server = "stepmill-bench-" + std::to_string(getpid()) + "-" + std::to_string(period);
        std::string start = std::string(JACK_SERVER_SCRIPT) + " start " + server + " " + std::to_string(period);
        if (std::system(start.c_str()) != 0) {
            std::printf("%6u  (could not start the JACK server)\n", period);
            all = false;
            continue;
        }
        setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
        for (way_t way : {way_t::engine, way_t::thread, way_t::mainloop, way_t::bare}) {
            for (load_t load : {load_t::idle, load_t::busy, load_t::stall}) {
                if (way == way_t::bare && load != load_t::idle) continue;
                result_t r;
                if (!alone(r, [&](result_t& mine) { return run(way, load, seconds, mine); })) {
                    std::printf("%6u %8s %5s  (could not open the probe or the port)\n", period, name_of(way),
                                name_of(load));
                    all = false;
                    continue;
                }
                const double us = 1e6 / rate;
                std::printf("%6u %8s %5s %8zu %8zu %5s %7.1f %6.1f %6.1f %8.0f %8.0f %8.0f %8.0f %6.2f", period,
                            name_of(way), name_of(load), r.expected, r.received, r.reordered ? "DIFF" : "same",
                            r.median, r.p99, r.max, r.median * us, r.p99 * us, r.max * us, r.drift * us, r.cpu);
                if (r.late_p99_us >= 0)
                    std::printf(" %9.0f %9.0f", r.late_p99_us, r.late_max_us);
                else
                    std::printf(" %9s %9s", "-", "-");
                if (r.xruns >= 0)
                    std::printf(" %6d", r.xruns);
                else
                    std::printf(" %6s", "-");
                if (r.pulse_p99 >= 0)
                    std::printf(" %9.1f %9.1f\n", r.pulse_p99, r.pulse_max);
                else
                    std::printf(" %9s %9s\n", "-", "-");
                std::fflush(stdout);
            }
        }
        double latency = 0;
        if (alone(latency, [](double& mine) { return transport_latency(mine); }))
            std::printf("%6u  another program starts the JACK transport: the first note %.0f frames after the first "
                        "period it rolls in\n",
                        period, latency);
        else
            std::printf("%6u  transport start: could not measure\n", period), all = false;
        std::system((std::string(JACK_SERVER_SCRIPT) + " stop " + server).c_str());
    }
    return all ? 0 : 1;
}
