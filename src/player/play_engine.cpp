#include "play_engine.h"

#include "program.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The Roland display: the title's first 20 characters while playing, and
// its reset at the stop. Built once, before any real-time thread runs.
struct display_t {
    unsigned char title[30];
    unsigned char reset[11] = {0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x01, 0x00, 0x00, 0x5F, 0xF7};
    display_t()
    {
        unsigned char data[23] = {0x20, 0x00, 0x00};
        std::memcpy(data + 3, program_title, std::min<size_t>(20, std::strlen(program_title)));
        const unsigned char head[5] = {0xF0, 0x41, 0x10, 0x16, 0x12};
        std::memcpy(title, head, 5);
        std::memcpy(title + 5, data, sizeof data);
        unsigned sum = 0;
        for (unsigned char b : data) sum += b;
        title[28] = static_cast<unsigned char>((0u - sum) & 0x7F);
        title[29] = 0xF7;
    }
};
const display_t display;

}  // namespace

// Turns the core's notes into note-on messages on the driver's sink, its
// pulses into MIDI clock, and its positions into reports.
class play_engine_t::note_writer_t : public play_sink_t {
public:
    note_writer_t(play_engine_t& engine, midi_sink_t& sink) : engine(engine), sink(sink) {}
    void note(uint64_t time, uint8_t note, uint8_t velocity) override
    {
        const unsigned char message[3] = {engine.status, note, velocity};
        sink.write(time, message, sizeof message);
    }
    void position(uint64_t time, uint64_t entry) override { engine.report(play_report_t::position, time, entry); }
    void pulse(uint64_t time) override
    {
        const unsigned char clock = 0xF8;
        sink.write(time, &clock, 1);
    }
    void step(uint64_t time, uint64_t sprite, uint32_t beat) override
    {
        engine.report(play_report_t::step, time, sprite, beat);
    }

private:
    play_engine_t& engine;
    midi_sink_t& sink;
};

play_engine_t::play_engine_t() : reports(jack_ringbuffer_create(sizeof(play_report_t) * 1024))
{
    jack_ringbuffer_mlock(reports);
}

play_engine_t::~play_engine_t()
{
    jack_ringbuffer_free(reports);
}

void play_engine_t::publish(const Song& song)
{
    auto next = std::make_unique<song_snapshot_t>(song);
    current.store(next.get());
    if (newest) retired.push_back(std::move(newest));
    newest = std::move(next);
    collect();
}

void play_engine_t::collect()
{
    const song_snapshot_t* in_use = hazard.load();
    retired.erase(std::remove_if(retired.begin(), retired.end(),
                                 [in_use](const std::unique_ptr<song_snapshot_t>& s) { return s.get() != in_use; }),
                  retired.end());
}

bool play_engine_t::peek(play_report_t& r) const
{
    if (jack_ringbuffer_read_space(reports) < sizeof r) return false;
    jack_ringbuffer_peek(reports, reinterpret_cast<char*>(&r), sizeof r);
    return true;
}

void play_engine_t::pop()
{
    jack_ringbuffer_read_advance(reports, sizeof(play_report_t));
}

const song_snapshot_t* play_engine_t::acquire()
{
    // Announce, then check that it is still the newest: a snapshot the GUI
    // retired before seeing the announcement is never used.
    const song_snapshot_t* s;
    do {
        s = current.load();
        hazard.store(s);
    } while (current.load() != s);
    return s;
}

void play_engine_t::report(play_report_t::kind_t kind, uint64_t time, uint64_t entry, uint32_t beat)
{
    const play_report_t r{kind, generation, time, entry, beat};
    // A GUI that does not keep up misses positions, never the engine a beat.
    if (jack_ringbuffer_write_space(reports) >= sizeof r)
        jack_ringbuffer_write(reports, reinterpret_cast<const char*>(&r), sizeof r);
}

// Playing from `bar` of the song on, its first beat (or the next one) at `time`.
void play_engine_t::begin(uint64_t time, double bar, uint32_t start_generation)
{
    playing = true;
    generation = start_generation;
    plan.timeline.anchor = time;
    plan.timeline.anchor_bar = bar;
    plan.timeline.bars_per_second = song_bars_per_second;
    state = play_state_t();
    start_due = true;
    stop_due = false;
}

void play_engine_t::end()
{
    stop_due = true;
    start_due = false;
    clock_ran = clock_ran && playing;
    playing = false;
}

void play_engine_t::command(const unsigned char* data, size_t len, uint64_t time)
{
    play_command_t c;
    if (len != sizeof c) return;
    std::memcpy(&c, data, sizeof c);
    plan.timeline.rate = c.rate;
    switch (c.kind) {
    case play_command_t::start:
        plan.mode = c.mode;
        plan.sprite_index = c.sprite_index;
        song_bars_per_second = c.bars_per_second;
        // The first beat falls on the frame the start arrives at.
        begin(time, 0.0, c.generation);
        break;
    case play_command_t::stop:
        end();
        break;
    case play_command_t::tempo:
        song_bars_per_second = c.bars_per_second;
        if (playing) plan.timeline.set_tempo(time, c.bars_per_second);
        break;
    case play_command_t::follow:
        following = c.on;
        break;
    case play_command_t::wake:
        break;
    }
}

void play_engine_t::transport(const midi_transport_t& t, uint64_t time)
{
    const bool was_rolling = rolling;
    rolling = t.rolling;
    if (!following) return;
    if (rolling && !was_rolling) {
        // From where the transport is: the master's bar and beat, or its
        // frame at the song's tempo.
        const double bar = t.has_bars ? t.quarter / 4.0
                                      : double(t.frame) / plan.timeline.rate * song_bars_per_second;
        plan.mode = Sequence;
        begin(time, bar, generation + 1);
        report(play_report_t::started, time, 0);
    } else if (!rolling && was_rolling && playing) {
        end();
        report(play_report_t::stopped, time, 0);
    }
    // The master's tempo, from the frame it changes on.
    if (rolling && playing && t.has_bars && t.bpm > 0.0 && std::fabs(t.bpm / 240.0 - plan.timeline.bars_per_second) > 1e-9)
        plan.timeline.set_tempo(time, t.bpm / 240.0);
}

// Bars and beats at the song's tempo from the transport's top: a function of
// the frame alone, so that a relocation lands where other programs expect.
void play_engine_t::describe(uint64_t frame, double& quarter, double& bpm)
{
    bpm = song_bars_per_second * 240.0;
    quarter = double(frame) / plan.timeline.rate * bpm / 60.0;
}

void play_engine_t::write_start(uint64_t time, midi_sink_t& sink)
{
    sink.write(time, display.title, sizeof display.title);
    clock_ran = plan.clock;
    if (!plan.clock) return;
    const double bar = plan.timeline.anchor_bar;
    if (bar <= 0.0) {
        const unsigned char start = 0xFA;
        sink.write(time, &start, 1);
        return;
    }
    // From inside the song: where, in sixteenths, then Continue.
    const uint32_t sixteenths = std::min<uint32_t>(0x3FFF, static_cast<uint32_t>(bar * 16.0));
    const unsigned char position[3] = {0xF2, static_cast<unsigned char>(sixteenths & 0x7F),
                                       static_cast<unsigned char>(sixteenths >> 7)};
    const unsigned char resume = 0xFB;
    sink.write(time, position, 3);
    sink.write(time, &resume, 1);
}

void play_engine_t::write_stop(uint64_t time, midi_sink_t& sink)
{
    if (clock_ran) {
        const unsigned char stop = 0xFC;
        sink.write(time, &stop, 1);
    }
    clock_ran = false;
    sink.write(time, display.reset, sizeof display.reset);
}

void play_engine_t::render(uint64_t from, uint64_t count, midi_sink_t& sink)
{
    plan.song = acquire();
    plan.clock = plan.song && plan.song->clock;
    if (plan.song) status = static_cast<uint8_t>(0x90 | ((plan.song->channel - 1) & 0x0F));
    // The display and the clock's followers start and stop with the notes,
    // at their frame.
    if (stop_due) write_stop(from, sink);
    stop_due = false;
    if (!playing || !plan.song) return;
    if (start_due) write_start(from, sink);
    start_due = false;
    note_writer_t writer(*this, sink);
    if (!play_span(plan, from, from + count, state, writer)) {
        end();
        report(play_report_t::ended, from, 0);
        write_stop(from, sink);
        stop_due = false;
    }
}

uint64_t play_engine_t::next_due(uint64_t after)
{
    plan.song = acquire();
    if (start_due || stop_due) return after;
    if (!playing || !plan.song) return midi_never;
    plan.clock = plan.song->clock;
    return next_beat(plan, after, state);
}
