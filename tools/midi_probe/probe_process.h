// Runs tools/midi_probe as a child process and collects what it receives:
// the instrument of the tests and benchmarks that need a real MIDI peer.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class probe_process_t {
public:
    struct event_t {
        uint64_t usec;                    // JACK time of the event's frame
        uint32_t frame;                   // the event's frame on the server's counter
        std::vector<unsigned char> bytes;
    };

    // Starts the probe as JACK client `client` (ports <client>:in, <client>:out).
    explicit probe_process_t(const std::string& client = "probe");
    ~probe_process_t();   // ends the probe and waits for it
    probe_process_t(const probe_process_t&) = delete;
    probe_process_t& operator=(const probe_process_t&) = delete;

    bool wait_ready(int timeout_ms = 10000);
    // Waits until at least n events have arrived.
    bool wait_events(size_t n, int timeout_ms);
    std::vector<event_t> events();
    void clear();
    // Sends bytes from <client>:out as one event.
    bool send(const std::vector<unsigned char>& bytes);
    // Ends the probe now; false when it did not exit cleanly with status 0.
    bool stop();
    // The thread that reads the probe's lines: work of the tests' own, which
    // a benchmark leaves out of the program's figures.
    pid_t reader_thread() const { return reader_id.load(); }

private:
    void read_lines();

    pid_t pid = -1;
    int to_probe = -1;
    int from_probe = -1;
    std::thread reader;
    std::mutex mutex;
    std::condition_variable changed;
    bool ready = false;
    bool ended = false;
    std::vector<event_t> received;
    std::atomic<pid_t> reader_id{0};
};

// The probe's events formatted "99 24 7f", one string per event.
std::vector<std::string> hex_of(const std::vector<probe_process_t::event_t>& events);
