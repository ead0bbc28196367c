#include "play_engine.h"

#include <algorithm>
#include <cstring>

// Turns the core's notes into note-on messages on the driver's sink and its
// positions into reports.
class play_engine_t::note_writer_t : public play_sink_t {
public:
    note_writer_t(play_engine_t& engine, midi_sink_t& sink) : engine(engine), sink(sink) {}
    void note(uint64_t time, uint8_t note, bool on) override
    {
        const unsigned char message[3] = {engine.status, note, on ? engine.velocity : uint8_t(0)};
        sink.write(time, message, sizeof message);
    }
    void position(uint64_t time, uint64_t entry) override { engine.report(play_report_t::position, time, entry); }

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

void play_engine_t::report(play_report_t::kind_t kind, uint64_t time, uint64_t entry)
{
    const play_report_t r{kind, generation, time, entry};
    // A GUI that does not keep up misses positions, never the engine a beat.
    if (jack_ringbuffer_write_space(reports) >= sizeof r)
        jack_ringbuffer_write(reports, reinterpret_cast<const char*>(&r), sizeof r);
}

void play_engine_t::command(const unsigned char* data, size_t len, uint64_t time)
{
    play_command_t c;
    if (len != sizeof c) return;
    std::memcpy(&c, data, sizeof c);
    switch (c.kind) {
    case play_command_t::start:
        playing = true;
        generation = c.generation;
        plan.mode = c.mode;
        plan.sprite_index = c.sprite_index;
        // The first beat falls on the frame the start arrives at.
        plan.timeline.rate = c.rate;
        plan.timeline.anchor = time;
        plan.timeline.anchor_bar = 0.0;
        plan.timeline.bars_per_second = c.bars_per_second;
        state = play_state_t();
        status = static_cast<uint8_t>(0x90 | (c.channel & 0x0F));
        velocity = c.velocity;
        break;
    case play_command_t::stop:
        playing = false;
        break;
    case play_command_t::tempo:
        plan.timeline.set_tempo(time, c.bars_per_second);
        break;
    case play_command_t::wake:
        break;
    }
}

void play_engine_t::render(uint64_t from, uint64_t count, midi_sink_t& sink)
{
    plan.song = acquire();
    if (!playing || !plan.song) return;
    note_writer_t writer(*this, sink);
    if (!play_span(plan, from, from + count, state, writer)) {
        playing = false;
        report(play_report_t::ended, from, 0);
    }
}

uint64_t play_engine_t::next_due(uint64_t after)
{
    plan.song = acquire();
    if (!playing || !plan.song) return midi_never;
    return next_beat(plan, after, state);
}
