// The program's own JACK client: one MIDI output port, connected to the
// device's port, that writes every message and every event its source
// renders at the event's own frame.
#pragma once

#include "midi_driver.h"
#include "midi_queue.h"

#include <jack/jack.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class midi_jack_driver_t : public midi_driver_t {
public:
    // A running client whose port is connected to `destination` (a JACK
    // port's full name), or null when there is no server or no such port.
    static std::unique_ptr<midi_jack_driver_t> open(const std::string& destination);
    ~midi_jack_driver_t() override;

    bool send(const unsigned char* bytes, size_t len) override;
    bool post(const unsigned char* data, size_t len) override;
    void flush() override;
    void attach(midi_source_t* source) override;
    midi_source_t* attached() const override;
    double rate() const override;
    uint64_t now() const override;
    uint64_t latency() const override;
    bool failed(std::string& reason) const override;
    bool has_transport() const override { return true; }
    void transport_start() override;
    void transport_stop() override;
    bool set_timebase_master(bool on) override;

    // Messages the port had no room for in their period.
    unsigned lost() const { return lost_events.load(); }
    // Periods the server reported late or missed since the client started.
    unsigned xruns() const { return xrun_count.load(); }

private:
    midi_jack_driver_t() = default;
    bool start(const std::string& destination);
    void fail(const char* reason);
    bool wait_cycles(uint64_t count, int timeout_ms) const;
    int process(jack_nframes_t frames);

    static int on_process(jack_nframes_t frames, void* self);
    static void on_shutdown(jack_status_t, const char* reason, void* self);
    static void on_connect(jack_port_id_t a, jack_port_id_t b, int connected, void* self);
    static int on_xrun(void* self);
    static void on_timebase(jack_transport_state_t, jack_nframes_t, jack_position_t* position, int, void* self);

    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
    std::string destination;
    std::string disconnected_reason;
    jack_nframes_t sample_rate = 48000;
    bool active = false;

    midi_queue_t queue;
    midi_source_slot_t source;

    // The timeline: JACK's 32-bit frame counter, carried on to 64 bits.
    std::atomic<uint64_t> cycle_start{0};
    uint32_t last_frame32 = 0;
    uint64_t frame_high = 0;
    bool first_cycle = true;

    std::atomic<uint64_t> cycles{0};
    std::atomic<unsigned> lost_events{0};
    std::atomic<unsigned> xrun_count{0};
    std::atomic<bool> closing{false};
    std::atomic<bool> has_failed{false};
    bool timebase_master = false;
    bool timebase_released = false;
    char failure[256] = {};   // written once, before has_failed is set
};

// The full names of the JACK ports a MIDI output can be connected to (the
// MIDI inputs of every client); empty when no server runs.
std::vector<std::string> jack_midi_destinations();
