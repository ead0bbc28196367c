// The player on a real JACK server against the probe, which records each
// event's absolute frame: every note on the song's grid to the frame,
// whatever the period and whatever the main loop is doing.
#include "midi_out.h"
#include "player.h"
#include "probe_process.h"
#include "program.h"

#include <glibmm/main.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/transport.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using event_t = probe_process_t::event_t;

// A private server of the given period, named for this test run.
class jack_server_t {
public:
    explicit jack_server_t(unsigned period)
        : name("stepmill-player-" + std::to_string(getpid()) + "-" + std::to_string(period)),
          script(std::string(std::getenv("STEPMILL_SOURCE_DIR")) + "/tools/jack_server.sh"), period(period)
    {
        start();
    }
    ~jack_server_t() { stop(); }
    bool start()
    {
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        return std::system((script + " start " + name + " " + std::to_string(period)).c_str()) == 0;
    }
    void stop() { std::system((script + " stop " + name).c_str()); }

private:
    std::string name, script;
    unsigned period;
};

void run_main_loop(int ms)
{
    auto loop = Glib::MainLoop::create();
    Glib::signal_timeout().connect_once([&] { loop->quit(); }, ms);
    loop->run();
}

bool is_note(const event_t& e, uint8_t note, bool on)
{
    return e.bytes.size() == 3 && e.bytes[0] == 0x99 && e.bytes[1] == note && (e.bytes[2] != 0) == on;
}

std::vector<uint32_t> frames_of(const std::vector<event_t>& events, uint8_t note)
{
    std::vector<uint32_t> out;
    for (const auto& e : events)
        if (is_note(e, note, true)) out.push_back(e.frame);
    return out;
}

// One sprite of 8 beats looped as a sequence: a hi-hat on every beat, a kick
// on the first.
struct groove_t {
    Song song;
    groove_t(uint64_t bpm)
    {
        song.bpm = bpm;
        song.sprites.emplace_back(&song, 8);
        for (NoteSet& beat : song.sprites[0].notes) beat.set(42);
        song.sprites[0].notes[0].set(36);
        song.sequence = {0};
    }
};

}  // namespace

// At 240 bpm (a beat every 6000 frames), then 300 bpm (4800): every beat on
// its frame through a tempo change, an edit and the main loop blocked for
// half a second, at a short and a long period.
TEST(PlayerJack, NotesOnTheirFrames)
{
    for (unsigned period : {64u, 1024u}) {
        jack_server_t server(period);
        probe_process_t probe;
        ASSERT_TRUE(probe.wait_ready()) << period;
        midi_out.reset(create_midi_out());
        ASSERT_TRUE(midi_out->open("probe:in")) << period;
        groove_t groove(240);
        Player player;
        player.start_sequence(groove.song);
        run_main_loop(1000);
        player.set_tempo(300);
        groove.song.bpm = 300;
        run_main_loop(300);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));   // the main loop blocked
        groove.song.sprites[0].notes[4].set(38);
        player.update(groove.song);
        run_main_loop(1000);
        player.stop();
        midi_out.reset();   // sends what was queued, then closes
        ASSERT_TRUE(probe.wait_events(1, 1000));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::vector<event_t> events = probe.events();
        ASSERT_GE(events.size(), 3u) << period;

        // The start message, then the first beat at its frame; the stop message last.
        EXPECT_EQ(events.front().bytes[0], 0xF0);
        EXPECT_EQ(events.back().bytes, (std::vector<unsigned char>{0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x01, 0x00,
                                                                   0x00, 0x5F, 0xF7}));
        const uint32_t anchor = events.front().frame;
        const std::vector<uint32_t> hats = frames_of(events, 42);
        ASSERT_GT(hats.size(), 20u) << period;
        EXPECT_EQ(hats[0], anchor) << period;

        // Beat i at 240 bpm on anchor + 6000 i; after the tempo change each
        // beat 4800 after the last; one beat between changes its length.
        size_t changed = 0;
        for (size_t i = 1; i < hats.size(); ++i) {
            const int64_t gap = int64_t(hats[i] - hats[i - 1]);
            if (changed == 0 && std::llabs(gap - 6000) > 1) changed = i;
            if (changed == 0) {
                EXPECT_LE(std::llabs(int64_t(hats[i] - anchor) - int64_t(6000 * i)), 1) << period << " beat " << i;
            } else if (i > changed) {
                EXPECT_LE(std::llabs(gap - 4800), 1) << period << " beat " << i;
            } else {
                EXPECT_TRUE(gap >= 4799 && gap <= 6001) << period << " the beat the tempo changed in: " << gap;
            }
        }
        EXPECT_GT(changed, 5u) << period;

        // The kick on every eighth beat, at the hi-hat's frame; the snare on
        // every beat 4 from the first one heard (the edit) on.
        const std::vector<uint32_t> kicks = frames_of(events, 36), snares = frames_of(events, 38);
        for (size_t i = 0; i < hats.size(); i += 8) EXPECT_EQ(kicks[i / 8], hats[i]) << period;
        ASSERT_FALSE(snares.empty()) << period;
        size_t first_snare = std::find(hats.begin(), hats.end(), snares[0]) - hats.begin();
        EXPECT_EQ(first_snare % 8, 4u) << period;
        for (size_t i = first_snare, k = 0; i < hats.size(); i += 8, ++k) EXPECT_EQ(snares.at(k), hats[i]) << period;

        // At each beat, note by note: the end of what sounded, then its new start.
        std::map<uint32_t, std::vector<std::string>> at;
        for (const auto& e : events)
            if (e.bytes.size() == 3) at[e.frame].push_back(std::to_string(e.bytes[1]) + (e.bytes[2] ? "+" : "-"));
        const std::vector<std::string> beat0 = {"36+", "42-", "42+"}, beat1 = {"36-", "42-", "42+"};
        EXPECT_EQ(at[hats[8]], beat0) << period;
        EXPECT_EQ(at[hats[9]], beat1) << period;
        probe.stop();
    }
}

// The server shuts down while playing: playback stops and says why; once a
// server is back, play works again without a restart.
TEST(PlayerJack, ServerGoneAndBack)
{
    jack_server_t server(256);
    groove_t groove(240);
    Player player;
    std::vector<std::string> failures;
    player.device_failed.connect([&](const std::string& why) { failures.push_back(why); });
    {
        probe_process_t probe;
        ASSERT_TRUE(probe.wait_ready());
        midi_out.reset(create_midi_out());
        ASSERT_TRUE(midi_out->open("probe:in"));
        player.start_sequence(groove.song);
        run_main_loop(300);
        server.stop();
        for (int i = 0; i < 50 && failures.empty(); ++i) run_main_loop(100);
        EXPECT_FALSE(player.is_playing());
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_FALSE(failures[0].empty());
        player.start_sequence(groove.song);   // no server: it says so again
        EXPECT_FALSE(player.is_playing());
        EXPECT_EQ(failures.size(), 2u);
    }
    ASSERT_TRUE(server.start());
    probe_process_t probe;
    ASSERT_TRUE(probe.wait_ready());
    player.start_sequence(groove.song);
    EXPECT_TRUE(player.is_playing());
    run_main_loop(600);
    player.stop();
    midi_out.reset();
    ASSERT_TRUE(probe.wait_events(3, 2000));
    EXPECT_FALSE(frames_of(probe.events(), 42).empty());
}

namespace {

// Another program on the server: it moves the transport, can be its
// timebase master at 120 bpm, and reads the bars and beats it is given.
class transport_client_t {
public:
    transport_client_t() : client(jack_client_open("transport-test", JackNoStartServer, nullptr))
    {
        if (client) jack_activate(client);
    }
    ~transport_client_t()
    {
        if (client) jack_client_close(client);
    }
    void start() { jack_transport_start(client); }
    void stop() { jack_transport_stop(client); }
    void locate(jack_nframes_t frame) { jack_transport_locate(client, frame); }
    bool master() { return jack_set_timebase_callback(client, 0, on_timebase, nullptr) == 0; }
    jack_transport_state_t query(jack_position_t& position) { return jack_transport_query(client, &position); }

    jack_client_t* client;

private:
    // 120 bpm, 4/4, from the transport's frame.
    static void on_timebase(jack_transport_state_t, jack_nframes_t, jack_position_t* p, int, void*)
    {
        const double quarter = double(p->frame) / p->frame_rate * 2.0;
        p->valid = JackPositionBBT;
        p->beats_per_bar = 4;
        p->beat_type = 4;
        p->ticks_per_beat = 1920;
        p->beats_per_minute = 120;
        p->bar = int32_t(quarter / 4) + 1;
        p->beat = int32_t(std::fmod(quarter, 4.0)) + 1;
        p->tick = int32_t(std::fmod(quarter, 1.0) * 1920);
        p->bar_start_tick = (p->bar - 1) * 4 * 1920.0;
    }
};

// A sequence of four one-beat sprites: sprite i sounds note 60 + i.
struct counting_t {
    Song song;
    explicit counting_t(uint64_t bpm)
    {
        song.bpm = bpm;
        for (int i = 0; i < 4; ++i) {
            song.sprites.emplace_back(&song, 1);
            song.sprites.back().notes[0].set(60 + i);
        }
        song.sequence = {0, 1, 2, 3};
    }
};

}  // namespace

// Following the JACK transport: another program's start and stop start and
// stop the sequence, from its master's bar; the play control moves the
// transport; as the master, stepmill gives the song's tempo, bars and beats.
TEST(PlayerJack, Transport)
{
    jack_server_t server(256);
    probe_process_t probe;
    ASSERT_TRUE(probe.wait_ready());
    midi_out.reset(create_midi_out());
    ASSERT_TRUE(midi_out->open("probe:in"));
    auto other = std::make_unique<transport_client_t>();
    ASSERT_NE(other->client, nullptr);
    counting_t counting(240);   // a bar a second
    Player player;
    player.set_follow_transport(true);
    player.start_sequence(counting.song);   // publishes the song; the transport starts it
    run_main_loop(300);
    jack_position_t position;
    EXPECT_EQ(other->query(position), JackTransportRolling) << "play starts the transport";
    EXPECT_TRUE(player.is_playing());
    player.stop();
    run_main_loop(300);
    EXPECT_NE(other->query(position), JackTransportRolling) << "stop stops it";

    // Another program's start, from bar 3 of its master's 120 bpm: entry 2
    // first, then entry 3 half a second later (a bar at 120 bpm is 2 s and
    // the song plays at its master's tempo).
    ASSERT_TRUE(other->master());
    other->locate(48000 * 4);   // bar 3 at 120 bpm
    probe.clear();
    other->start();
    for (int i = 0; i < 50 && !player.is_playing(); ++i) run_main_loop(20);
    EXPECT_TRUE(player.is_playing());
    run_main_loop(2300);
    other->stop();
    for (int i = 0; i < 50 && player.is_playing(); ++i) run_main_loop(20);
    EXPECT_FALSE(player.is_playing()) << "the transport's stop stops playback";
    std::vector<std::pair<uint32_t, int>> ons;
    for (const auto& e : probe.events())
        if (e.bytes.size() == 3 && e.bytes[2] != 0) ons.push_back({e.frame, e.bytes[1]});
    ASSERT_GE(ons.size(), 2u);
    EXPECT_EQ(ons[0].second, 62) << "from the master's bar 3: entry 2";
    EXPECT_EQ(ons[1].second, 63);
    EXPECT_LE(std::llabs(int64_t(ons[1].first - ons[0].first) - 96000), 1) << "a bar at the master's 120 bpm";
    EXPECT_EQ(probe.events().back().bytes[0], 0xF0) << "the display's reset last";

    // stepmill as the master (the other gives it up), at 150 bpm: what the other reads.
    other = std::make_unique<transport_client_t>();
    player.set_tempo(150);
    ASSERT_TRUE(player.set_timebase_master(true));
    other->locate(48000 * 3);   // 3 s at 150 bpm: 7.5 quarter notes, bar 2 beat 4, half a beat in
    run_main_loop(200);
    other->query(position);
    EXPECT_TRUE(position.valid & JackPositionBBT);
    EXPECT_DOUBLE_EQ(position.beats_per_minute, 150.0);
    EXPECT_EQ(position.bar, 2);
    EXPECT_EQ(position.beat, 4);
    EXPECT_EQ(position.tick, 960);
    // Given up, the master's place is free for another program.
    EXPECT_TRUE(player.set_timebase_master(false));
    EXPECT_TRUE(other->master());
    player.set_follow_transport(false);
    midi_out.reset();
}

// The groove on the wire: swung beats on their frames, each note at its
// velocity on the song's channel, a muted row silent from the next beat; the
// MIDI clock's pulses 24 a quarter note on their frames through a tempo
// change, Start before the first beat, Stop after the last.
TEST(PlayerJack, GrooveAndClock)
{
    jack_server_t server(1024);
    probe_process_t probe;
    ASSERT_TRUE(probe.wait_ready());
    midi_out.reset(create_midi_out());
    ASSERT_TRUE(midi_out->open("probe:in"));
    groove_t groove(240);   // a beat every 6000 frames, a pulse every 500
    Song& song = groove.song;
    song.swing = 66;        // odd beats 1.32 beats after the even ones before them
    song.channel = 2;
    song.clock = true;
    song.sprites[0].set_velocity(2, 42, 48);
    Player player;
    player.start_sequence(song);
    run_main_loop(1100);
    song.mute.set(36);      // the kick, from the next beat on
    player.update(song);
    run_main_loop(600);
    player.set_tempo(300);  // a pulse every 400 frames from here
    run_main_loop(600);
    player.stop();
    midi_out.reset();
    ASSERT_TRUE(probe.wait_events(3, 2000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::vector<event_t> events = probe.events();

    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events[0].bytes[0], 0xF0) << "the display's title";
    EXPECT_EQ(events[1].bytes, std::vector<unsigned char>{0xFA});
    EXPECT_EQ(events[2].bytes, std::vector<unsigned char>{0xF8});
    const uint32_t anchor = events[1].frame;
    EXPECT_EQ(events[2].frame, anchor);
    std::vector<uint32_t> pulses, hats;
    for (const auto& e : events) {
        if (e.bytes == std::vector<unsigned char>{0xF8}) pulses.push_back(e.frame - anchor);
        if (e.bytes.size() == 3 && e.bytes[2] != 0) {
            EXPECT_EQ(e.bytes[0], 0x91) << "channel 2";
            if (e.bytes[1] == 42) {
                hats.push_back(e.frame - anchor);
                EXPECT_EQ(e.bytes[2], (hats.size() - 1) % 8 == 2 ? 48 : 127) << "hat " << hats.size() - 1;
            }
            if (e.bytes[1] == 36) {
                EXPECT_LT(e.frame - anchor, 1100u * 48 + 2 * 6000) << "a muted kick";
            }
        }
    }
    EXPECT_EQ(events.back().bytes[0], 0xF0) << "the display's reset last";
    EXPECT_EQ(events[events.size() - 2].bytes, std::vector<unsigned char>{0xFC}) << "Stop after the last note";
    // Before the tempo change: beat k of bar b at 48000 b + 6000 k, odd ones
    // 7920 after the even ones before them; pulse p at 500 p.
    ASSERT_GT(hats.size(), 12u);
    for (size_t i = 0; i < 12; ++i) {   // the tempo changes some 1.7 bars in
        const int64_t want = 48000 * int64_t(i / 8) + 6000 * int64_t(i % 8 / 2 * 2) + (i % 2 ? 7920 : 0);
        EXPECT_LE(std::llabs(int64_t(hats[i]) - want), 1) << "hat " << i;
    }
    size_t changed = 0;
    for (size_t i = 1; i < pulses.size(); ++i) {
        const int64_t gap = int64_t(pulses[i] - pulses[i - 1]);
        if (changed == 0 && std::llabs(gap - 500) > 1) changed = i;
        if (changed == 0) {
            EXPECT_LE(std::llabs(int64_t(pulses[i]) - int64_t(500 * i)), 1) << "pulse " << i;
        } else if (i > changed) {
            EXPECT_LE(std::llabs(gap - 400), 1) << "pulse " << i;
        }
    }
    EXPECT_GT(changed, 150u) << "pulses at 240 bpm for the first 1.7 s";
    EXPECT_LT(changed, pulses.size() - 20) << "and at 300 bpm after";
}
