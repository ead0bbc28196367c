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
// Roland DT1 messages to the display at 20 00 00: the title's first 20 characters, and the reset.
const bytes_t display_title = {0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x00, 0x00, 'G', 'r', 'o', 'o', 'v', 'e', 'P',
                               'l', 'o', 't', 't', 'e', 'r', 'S', 't', 'u', 'd', 'i', 'o', ' ', 0x6C, 0xF7};
const bytes_t display_reset = {0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x01, 0x00, 0x00, 0x5F, 0xF7};

void run_main_loop(int ms)
{
    auto loop = Glib::MainLoop::create();
    Glib::signal_timeout().connect_once([&] { loop->quit(); }, ms);
    loop->run();
}

// The frames of the note's starts.
std::vector<uint32_t> frames_of(const std::vector<event_t>& events, uint8_t note)
{
    std::vector<uint32_t> out;
    for (const auto& e : events)
        if (e.bytes.size() == 3 && e.bytes[1] == note && e.bytes[2] != 0) out.push_back(e.frame);
    return out;
}

// Frames `before` apart from the first, then, after the one gap that lies
// between (the beat the tempo changed in), `after` apart; where it changed.
size_t expect_tempo_change(const std::vector<uint32_t>& frames, int64_t before, int64_t after)
{
    size_t changed = 0;
    for (size_t i = 1; i < frames.size(); ++i) {
        const int64_t gap = int64_t(frames[i] - frames[i - 1]);
        if (changed == 0 && std::llabs(gap - before) > 1) changed = i;
        if (changed == 0)
            EXPECT_LE(std::llabs(int64_t(frames[i] - frames[0]) - before * int64_t(i)), 1) << i;
        else if (i > changed)
            EXPECT_LE(std::llabs(gap - after), 1) << i;
        else
            EXPECT_TRUE(gap >= after - 1 && gap <= before + 1) << "the gap the tempo changed in: " << gap;
    }
    return changed;
}

// One sprite of 8 beats looped: a hi-hat on every beat, a kick on the first.
void groove(Song& song, uint64_t bpm)
{
    song.bpm = bpm;
    song.sprites.emplace_back(&song, 8);
    for (NoteSet& beat : song.sprites[0].notes) beat.set(42);
    song.sprites[0].notes[0].set(36);
    song.sequence = {0};
}

// Another program on the server: it moves the transport, can be its
// timebase master at 120 bpm in 4/4, and reads the bars and beats it is given.
struct other_client_t {
    jack_client_t* client = jack_client_open("transport-test", JackNoStartServer, nullptr);
    other_client_t()
    {
        if (client) jack_activate(client);
    }
    ~other_client_t()
    {
        if (client) jack_client_close(client);
    }
    bool master()
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
};

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
        ASSERT_NO_FATAL_FAILURE(start_probe());
        midi_out.reset(create_midi_out());
        ASSERT_TRUE(midi_out->open("probe:in"));
    }
    void start_probe()
    {
        probe = std::make_unique<probe_process_t>();
        ASSERT_TRUE(probe->wait_ready());
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

// At 240 bpm (a beat every 6000 frames), then 300 bpm (4800): every beat on
// its frame through a tempo change, an edit and the main loop blocked for
// half a second, at a short and a long period; at each beat, note by note,
// the end of what sounded, then its new start.
TEST_F(PlayerJack, NotesOnTheirFrames)
{
    for (unsigned period : {64u, 1024u}) {
        SCOPED_TRACE(period);
        ASSERT_NO_FATAL_FAILURE(up(period));
        Song song;
        groove(song, 240);
        Player player;
        player.start_sequence(song);
        run_main_loop(1000);
        player.set_tempo(300);
        song.bpm = 300;
        run_main_loop(300);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));   // the main loop blocked
        song.sprites[0].notes[4].set(38);
        player.update(song);
        run_main_loop(1000);
        player.stop();
        const std::vector<event_t> events = heard();
        TearDown();
        ASSERT_GE(events.size(), 3u);

        // The start message, then the first beat at its frame; the stop message last.
        EXPECT_EQ(events.front().bytes, display_title);
        EXPECT_EQ(events.back().bytes, display_reset);
        const std::vector<uint32_t> hats = frames_of(events, 42);
        ASSERT_GT(hats.size(), 20u);
        EXPECT_EQ(hats[0], events.front().frame);
        EXPECT_GT(expect_tempo_change(hats, 6000, 4800), 5u);

        // The kick on every eighth beat, at the hi-hat's frame; the snare on
        // every beat 4 from the first one heard (the edit) on.
        const std::vector<uint32_t> kicks = frames_of(events, 36), snares = frames_of(events, 38);
        for (size_t i = 0; i < hats.size(); i += 8) EXPECT_EQ(kicks.at(i / 8), hats[i]);
        ASSERT_FALSE(snares.empty());
        size_t first_snare = std::find(hats.begin(), hats.end(), snares[0]) - hats.begin();
        EXPECT_EQ(first_snare % 8, 4u);
        for (size_t i = first_snare, k = 0; i < hats.size(); i += 8, ++k) EXPECT_EQ(snares.at(k), hats[i]);

        std::map<uint32_t, std::vector<std::string>> at;
        for (const auto& e : events)
            if (e.bytes.size() == 3) at[e.frame].push_back(std::to_string(e.bytes[1]) + (e.bytes[2] ? "+" : "-"));
        EXPECT_EQ(at[hats[8]], (std::vector<std::string>{"36+", "42-", "42+"}));
        EXPECT_EQ(at[hats[9]], (std::vector<std::string>{"36-", "42-", "42+"}));
    }
}

// The server shuts down while playing: playback stops and says why; once a
// server is back, play works again without a restart.
TEST_F(PlayerJack, ServerGoneAndBack)
{
    ASSERT_NO_FATAL_FAILURE(up(256));
    Song song;
    groove(song, 240);
    Player player;
    std::vector<std::string> failures;
    player.device_failed.connect([&](const std::string& why) { failures.push_back(why); });
    player.start_sequence(song);
    run_main_loop(300);
    server("stop " + name);
    for (int i = 0; i < 50 && failures.empty(); ++i) run_main_loop(100);
    EXPECT_FALSE(player.is_playing());
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_FALSE(failures[0].empty());
    player.start_sequence(song);   // no server: it says so again
    EXPECT_FALSE(player.is_playing());
    EXPECT_EQ(failures.size(), 2u);

    probe.reset();
    ASSERT_TRUE(server("start " + name + " 256"));
    ASSERT_NO_FATAL_FAILURE(start_probe());
    player.start_sequence(song);
    EXPECT_TRUE(player.is_playing());
    run_main_loop(600);
    player.stop();
    EXPECT_FALSE(frames_of(heard(), 42).empty());
}

// Following the JACK transport: another program's start and stop start and
// stop the sequence, from its master's bar; the play control moves the
// transport; as the master, stepmill gives the song's tempo, bars and beats.
// On the shared server: a port that gave up the timebase is kept open, and
// may not see its server stop while the process lives.
TEST_F(PlayerJack, Transport)
{
    ASSERT_NO_FATAL_FAILURE(up(0));
    auto other = std::make_unique<other_client_t>();
    ASSERT_NE(other->client, nullptr);
    Song song;   // a bar a second, entry i sounding note 60 + i
    song.bpm = 240;
    for (int i = 0; i < 4; ++i) song.sprites.emplace_back(&song, 1).notes[0].set(60 + i);
    song.sequence = {0, 1, 2, 3};
    Player player;
    player.set_follow_transport(true);
    player.start_sequence(song);   // publishes the song; the transport starts it
    run_main_loop(300);
    jack_position_t position;
    EXPECT_EQ(jack_transport_query(other->client, &position), JackTransportRolling) << "play starts the transport";
    EXPECT_TRUE(player.is_playing());
    player.stop();
    run_main_loop(300);
    EXPECT_NE(jack_transport_query(other->client, &position), JackTransportRolling) << "stop stops it";

    // Another program's start, from bar 3 of its master's 120 bpm: entry 2
    // first, then entry 3 half a second later (a bar at 120 bpm is 2 s and
    // the song plays at its master's tempo).
    ASSERT_TRUE(other->master());
    jack_transport_locate(other->client, 48000 * 4);   // bar 3 at 120 bpm
    probe->clear();
    jack_transport_start(other->client);
    for (int i = 0; i < 50 && !player.is_playing(); ++i) run_main_loop(20);
    EXPECT_TRUE(player.is_playing());
    run_main_loop(2300);
    jack_transport_stop(other->client);
    for (int i = 0; i < 50 && player.is_playing(); ++i) run_main_loop(20);
    EXPECT_FALSE(player.is_playing()) << "the transport's stop stops playback";
    std::vector<std::pair<uint32_t, int>> ons;
    for (const auto& e : probe->events())
        if (e.bytes.size() == 3 && e.bytes[2] != 0) ons.push_back({e.frame, e.bytes[1]});
    ASSERT_GE(ons.size(), 2u);
    EXPECT_EQ(ons[0].second, 62) << "from the master's bar 3: entry 2";
    EXPECT_EQ(ons[1].second, 63);
    EXPECT_LE(std::llabs(int64_t(ons[1].first - ons[0].first) - 96000), 1) << "a bar at the master's 120 bpm";
    EXPECT_EQ(probe->events().back().bytes, display_reset);

    // stepmill as the master (the other gives it up), at 150 bpm: what the other reads.
    other = std::make_unique<other_client_t>();
    player.set_tempo(150);
    ASSERT_TRUE(player.set_timebase_master(true));
    jack_transport_locate(other->client, 48000 * 3);   // 3 s at 150 bpm: 7.5 quarters, bar 2 beat 4, half a beat in
    run_main_loop(200);
    jack_transport_query(other->client, &position);
    EXPECT_TRUE(position.valid & JackPositionBBT);
    EXPECT_DOUBLE_EQ(position.beats_per_minute, 150.0);
    EXPECT_EQ((std::vector<int>{position.bar, position.beat, position.tick}), (std::vector<int>{2, 4, 960}));
    // Given up, the master's place is free for another program.
    EXPECT_TRUE(player.set_timebase_master(false));
    EXPECT_TRUE(other->master());
    player.set_follow_transport(false);
}

// The groove on the wire: swung beats on their frames, each note at its
// velocity on the song's channel, a muted row silent from the next beat; the
// MIDI clock's pulses 24 a quarter note on their frames through a tempo
// change, Start before the first beat, Stop after the last.
TEST_F(PlayerJack, GrooveAndClock)
{
    ASSERT_NO_FATAL_FAILURE(up(1024));
    Song song;
    groove(song, 240);   // a beat every 6000 frames, a pulse every 500
    song.swing = 66;     // odd beats 1.32 beats after the even ones before them
    song.channel = 2;
    song.clock = true;
    song.sprites[0].set_velocity(2, 42, 48);
    Player player;
    player.start_sequence(song);
    run_main_loop(1100);
    song.mute.set(36);   // the kick, from the next beat on
    player.update(song);
    run_main_loop(600);
    player.set_tempo(300);   // a pulse every 400 frames from here
    run_main_loop(600);
    player.stop();
    const std::vector<event_t> events = heard();

    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events[0].bytes, display_title);
    EXPECT_EQ(events[1].bytes, bytes_t{0xFA});
    EXPECT_EQ(events[2].bytes, bytes_t{0xF8});
    const uint32_t anchor = events[1].frame;
    EXPECT_EQ(events[2].frame, anchor);
    std::vector<uint32_t> pulses, hats;
    for (const auto& e : events) {
        if (e.bytes == bytes_t{0xF8}) pulses.push_back(e.frame);
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
    EXPECT_EQ(events.back().bytes, display_reset);
    EXPECT_EQ(events[events.size() - 2].bytes, bytes_t{0xFC}) << "Stop after the last note";
    // Before the tempo change: beat k of bar b at 48000 b + 6000 k, odd ones
    // 7920 after the even ones before them.
    ASSERT_GT(hats.size(), 12u);
    for (size_t i = 0; i < 12; ++i) {   // the tempo changes some 1.7 bars in
        const int64_t want = 48000 * int64_t(i / 8) + 6000 * int64_t(i % 8 / 2 * 2) + (i % 2 ? 7920 : 0);
        EXPECT_LE(std::llabs(int64_t(hats[i]) - want), 1) << "hat " << i;
    }
    const size_t changed = expect_tempo_change(pulses, 500, 400);
    EXPECT_GT(changed, 150u) << "pulses at 240 bpm for the first 1.7 s";
    EXPECT_LT(changed, pulses.size() - 20) << "and at 300 bpm after";
}
