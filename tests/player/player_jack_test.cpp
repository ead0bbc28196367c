// The player on a real JACK server against the probe, which records each
// event's absolute frame: every note on the song's grid to the frame,
// whatever the period and whatever the main loop is doing.
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
#include <map>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

using event_t = probe_process_t::event_t;
using bytes_t = std::vector<unsigned char>;

void run_main_loop(int ms)
{
    auto loop = Glib::MainLoop::create();
    Glib::signal_timeout().connect_once([&] { loop->quit(); }, ms);
    loop->run();
}

// Frames `before` apart from the first, then, after the one gap that lies
// between (the beat the tempo changed in), `after` apart; where it changed.
size_t expect_tempo_change(const std::vector<uint32_t>& frames, int64_t before, int64_t after)
{
    size_t changed = 1;
    while (changed < frames.size() && std::llabs(int64_t(frames[changed] - frames[0]) - before * int64_t(changed)) <= 1)
        ++changed;
    if (changed == frames.size()) return 0;
    const int64_t gap = int64_t(frames[changed] - frames[changed - 1]);
    EXPECT_TRUE(gap >= after - 1 && gap <= before + 1) << "the gap the tempo changed in: " << gap;
    for (size_t i = changed + 1; i < frames.size(); ++i)
        EXPECT_LE(std::llabs(int64_t(frames[i] - frames[i - 1]) - after), 1) << i;
    return changed;
}

// Another program on the server: it moves the transport, and can be its
// timebase master at 120 bpm in 4/4.
using client_t = std::unique_ptr<jack_client_t, int (*)(jack_client_t*)>;
client_t other_client()
{
    client_t client(jack_client_open("transport-test", JackNoStartServer, nullptr), jack_client_close);
    if (client) jack_activate(client.get());
    return client;
}
bool take_timebase(jack_client_t* client)
{
    return jack_set_timebase_callback(client, 0, [](jack_transport_state_t, jack_nframes_t, jack_position_t* p,
                                                    int, void*) {
        const double quarter = p->frame_rate ? double(p->frame) / p->frame_rate * 2.0 : 0.0;
        p->valid = JackPositionBBT;
        p->beats_per_bar = p->beat_type = 4;
        p->ticks_per_beat = 1920;
        p->beats_per_minute = 120;
        p->bar = int32_t(quarter / 4) + 1;
        p->beat = int32_t(std::fmod(quarter, 4.0)) + 1;
        p->tick = int32_t(std::fmod(quarter, 1.0) * 1920);
        p->bar_start_tick = (p->bar - 1) * 4.0 * 1920.0;
    }, nullptr) == 0;
}

// A private server of a test's own period (0: the tests' shared server,
// which outlives the test process), the probe on it and the output port
// open to the probe.
class PlayerJack : public ::testing::Test {
protected:
    void up(unsigned period)
    {
        if (period) {
            name = "stepmill-player-" + std::to_string(getpid()) + "-" + std::to_string(period);
            setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
            ASSERT_TRUE(server("start " + name + " " + std::to_string(period)));
        }
        probe = std::make_unique<probe_process_t>();
        ASSERT_TRUE(probe->wait_ready());
        midi_out.reset(create_midi_out());
        ASSERT_TRUE(midi_out->open("probe:in"));
    }
    void TearDown() override
    {
        midi_out.reset();
        probe.reset();
        if (!name.empty()) server("stop " + name);
    }
    static bool server(const std::string& args)
    {
        return std::system((std::string(std::getenv("STEPMILL_SOURCE_DIR")) + "/tools/jack_server.sh " + args).c_str()) == 0;
    }
    // What the probe heard, once the port has sent what was queued and closed.
    std::vector<event_t> heard()
    {
        midi_out.reset();
        EXPECT_TRUE(probe->wait_events(3, 2000));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return probe->events();
    }

    std::string name;
    std::unique_ptr<probe_process_t> probe;
};

}  // namespace

// At 240 bpm (a beat every 6000 frames, a clock pulse every 500), then 300
// bpm (4800, 400): every beat and pulse on its frame through a tempo change,
// an edit and the main loop blocked for half a second, at a short and a long
// period. The display's title, the clock's Start and first pulse on the first
// beat's frame, its Stop before the display's reset; each note at its
// velocity on the song's channel; at each beat, note by note, the end of what
// sounded, then its new start.
TEST_F(PlayerJack, NotesAndClockOnTheirFrames)
{
    for (unsigned period : {256u, 1024u}) {
        SCOPED_TRACE(period);
        ASSERT_NO_FATAL_FAILURE(up(period));
        Song song;   // one sprite of 8 beats looped: a hi-hat on every beat, a kick on the first
        song.bpm = 240;
        song.sprites.emplace_back(&song, 8);
        for (NoteSet& beat : song.sprites[0].notes) beat.set(42);
        song.sprites[0].notes[0].set(36);
        song.sequence = {0};
        song.channel = 2;
        song.clock = true;
        song.sprites[0].set_velocity(2, 42, 48);
        Player player;
        player.start_sequence(song);
        run_main_loop(1000);
        player.set_tempo(300);
        song.bpm = 300;
        run_main_loop(300);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));   // the main loop blocked
        song.sprites[0].notes[4].set(38);   // the edit: a snare on beat 4, the kick muted
        song.mute.set(36);
        player.update(song);
        run_main_loop(1000);
        player.stop();
        const std::vector<event_t> events = heard();
        TearDown();
        ASSERT_GE(events.size(), 5u);

        // The display's messages by their sizes (their bytes are held in player_test).
        EXPECT_EQ(events[0].bytes.size(), 30u) << "the display's title first";
        EXPECT_EQ((std::vector<bytes_t>{events[1].bytes, events[2].bytes}), (std::vector<bytes_t>{{0xFA}, {0xF8}}));
        EXPECT_EQ(events[2].frame, events[1].frame);
        EXPECT_EQ(events[events.size() - 2].bytes, bytes_t{0xFC}) << "Stop after the last note";
        EXPECT_EQ(events.back().bytes.size(), 11u) << "the display's reset last";
        std::vector<uint32_t> pulses;
        std::map<int, std::vector<uint32_t>> starts;        // note: its frames
        std::map<uint32_t, std::vector<std::string>> at;   // frame: ends (-) and starts (+) in order
        for (const auto& e : events) {
            if (e.bytes == bytes_t{0xF8}) pulses.push_back(e.frame);
            if (e.bytes.size() != 3) continue;
            EXPECT_EQ(e.bytes[0], 0x91) << "channel 2";
            at[e.frame].push_back(std::to_string(e.bytes[1]) + (e.bytes[2] ? "+" : "-"));
            if (e.bytes[2] == 0) continue;
            std::vector<uint32_t>& frames = starts[e.bytes[1]];
            EXPECT_EQ(e.bytes[2], e.bytes[1] == 42 && frames.size() % 8 == 2 ? 48 : 127) << int(e.bytes[1]);
            frames.push_back(e.frame);
        }
        const std::vector<uint32_t>& hats = starts[42], &kicks = starts[36], &snares = starts[38];
        ASSERT_GT(hats.size(), 20u);
        EXPECT_EQ(hats[0], events[1].frame);
        EXPECT_GT(expect_tempo_change(hats, 6000, 4800), 5u);
        const size_t changed = expect_tempo_change(pulses, 500, 400);
        EXPECT_TRUE(changed > 80 && changed + 100 < pulses.size())   // 240 bpm for a second, then 300
            << changed << " of " << pulses.size() << " pulses at 240 bpm";

        // The kick on every eighth beat, at the hi-hat's frame, until the
        // edit; the snare on every beat 4 from the edit on.
        ASSERT_FALSE(kicks.empty() || snares.empty());
        for (size_t k = 0; k < kicks.size(); ++k) EXPECT_EQ(kicks[k], hats.at(8 * k));
        EXPECT_LT(kicks.back(), snares[0]) << "the kick muted by the edit";
        const size_t first_snare = std::find(hats.begin(), hats.end(), snares[0]) - hats.begin();
        EXPECT_EQ(first_snare % 8, 4u);
        for (size_t i = first_snare, k = 0; i < hats.size(); i += 8, ++k) EXPECT_EQ(snares.at(k), hats[i]);
        EXPECT_EQ(at[hats[8]], (std::vector<std::string>{"36+", "42-", "42+"}));
        EXPECT_EQ(at[hats[9]], (std::vector<std::string>{"36-", "42-", "42+"}));
    }
}

// The server shuts down while playing: playback stops and says why; play
// then tries the device again by its name, and once a server is back, play
// works again without a restart.
TEST_F(PlayerJack, ServerGoneAndBack)
{
    ASSERT_NO_FATAL_FAILURE(up(256));
    Song song;
    song.sprites.emplace_back(&song, 1).notes[0].set(42);
    song.sequence = {0};
    Player player;
    std::vector<std::string> failures;
    player.device_failed.connect([&](const std::string& why) { failures.push_back(why); });
    player.start_sequence(song);
    run_main_loop(300);
    server("stop " + name);
    for (int i = 0; i < 50 && failures.empty(); ++i) run_main_loop(100);
    EXPECT_FALSE(player.is_playing());
    ASSERT_TRUE(failures.size() == 1 && !failures[0].empty());
    player.start_sequence(song);   // no server: it says so again
    EXPECT_FALSE(player.is_playing());
    EXPECT_EQ(failures, (std::vector<std::string>{failures[0], "probe:in: device name not found."}));

    probe.reset();
    ASSERT_TRUE(server("start " + name + " 256"));
    probe = std::make_unique<probe_process_t>();
    ASSERT_TRUE(probe->wait_ready());
    player.start_sequence(song);
    EXPECT_TRUE(player.is_playing());
    run_main_loop(600);
    player.stop();
    const std::vector<event_t> events = heard();
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const event_t& e) { return e.bytes.size() == 3; }));
}

// Following the JACK transport: another program's start and stop start and
// stop the sequence, from its master's bar; the play control moves the
// transport; as the master, stepmill gives the song's tempo, bars and beats.
// On the shared server: a port that gave up the timebase is kept open, and
// may not see its server stop while the process lives.
TEST_F(PlayerJack, Transport)
{
    ASSERT_NO_FATAL_FAILURE(up(0));
    client_t other = other_client();
    ASSERT_NE(other, nullptr);
    Song song;   // a bar a second, entry i sounding note 60 + i
    song.bpm = 240;
    for (int i = 0; i < 4; ++i) song.sprites.emplace_back(&song, 1).notes[0].set(60 + i);
    song.sequence = {0, 1, 2, 3};
    Player player;
    player.set_follow_transport(true);
    player.start_sequence(song);   // publishes the song; the transport starts it
    run_main_loop(300);
    jack_position_t position;
    EXPECT_EQ(jack_transport_query(other.get(), &position), JackTransportRolling) << "play starts the transport";
    EXPECT_TRUE(player.is_playing());
    player.stop();
    run_main_loop(300);
    EXPECT_NE(jack_transport_query(other.get(), &position), JackTransportRolling) << "stop stops it";

    // Another program's start, from bar 3 of its master's 120 bpm: entry 2
    // first, then entry 3 half a second later (a bar at 120 bpm is 2 s and
    // the song plays at its master's tempo).
    ASSERT_TRUE(take_timebase(other.get()));
    jack_transport_locate(other.get(), 48000 * 4);   // bar 3 at 120 bpm
    probe->clear();
    jack_transport_start(other.get());
    for (int i = 0; i < 50 && !player.is_playing(); ++i) run_main_loop(20);
    EXPECT_TRUE(player.is_playing());
    run_main_loop(2300);
    jack_transport_stop(other.get());
    for (int i = 0; i < 50 && player.is_playing(); ++i) run_main_loop(20);
    EXPECT_FALSE(player.is_playing()) << "the transport's stop stops playback";
    std::vector<std::pair<uint32_t, int>> ons;
    for (const auto& e : probe->events())
        if (e.bytes.size() == 3 && e.bytes[2] != 0) ons.push_back({e.frame, e.bytes[1]});
    ASSERT_GE(ons.size(), 2u);
    EXPECT_EQ(ons[0].second, 62) << "from the master's bar 3: entry 2";
    EXPECT_EQ(ons[1].second, 63);
    EXPECT_LE(std::llabs(int64_t(ons[1].first - ons[0].first) - 96000), 1) << "a bar at the master's 120 bpm";
    EXPECT_EQ(probe->events().back().bytes.size(), 11u) << "the display's reset last";

    // stepmill as the master (the other gives it up), at 150 bpm: what the other reads.
    other = other_client();
    player.set_tempo(150);
    ASSERT_TRUE(player.set_timebase_master(true));
    jack_transport_locate(other.get(), 48000 * 3);   // 3 s at 150 bpm: 7.5 quarters, bar 2 beat 4, half a beat in
    run_main_loop(200);
    jack_transport_query(other.get(), &position);
    EXPECT_TRUE(position.valid & JackPositionBBT);
    EXPECT_DOUBLE_EQ(position.beats_per_minute, 150.0);
    EXPECT_EQ((std::vector<int>{position.bar, position.beat, position.tick}), (std::vector<int>{2, 4, 960}));
    // Given up, the master's place is free for another program.
    EXPECT_TRUE(player.set_timebase_master(false));
    EXPECT_TRUE(take_timebase(other.get()));
    player.set_follow_transport(false);
}
