// A MIDI peer for tests and benchmarks: a JACK client with an input port that
// prints what arrives and an output port that sends what it is told.
//
//   midi_probe [--name CLIENT]
//
// Ports CLIENT:in and CLIENT:out (CLIENT defaults to "probe"). Standard output,
// one line each, flushed at once:
//   ready                          the ports exist and the client runs
//   <usec> <frame> <hex> <hex> ... an event arrived; usec is JACK's clock at
//                                  the start of the cycle plus the event's
//                                  offset, so the period does not blur it;
//                                  frame is its absolute frame on the
//                                  server's frame counter, the one every
//                                  client of the server shares
// Standard input, one line each: hex bytes to send from CLIENT:out as one
// event ("90 24 7f"), or "quit". The end of standard input, SIGINT and SIGTERM
// end the probe cleanly too, so a probe whose test died never outlives it and
// takes the next test's client name.
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

jack_client_t* client = nullptr;
jack_port_t* in_port = nullptr;
jack_port_t* out_port = nullptr;
jack_ringbuffer_t* received = nullptr;   // process thread -> main thread
jack_ringbuffer_t* to_send = nullptr;    // main thread -> process thread
std::atomic<bool> done{false};
std::atomic<unsigned> overruns{0};
jack_nframes_t sample_rate = 48000;

struct record_t {
    uint64_t usec;
    uint32_t frame;
    uint32_t size;
};

int process(jack_nframes_t frames, void*)
{
    // The clock read now, not the cycle time the driver predicted: the dummy
    // driver's predictions wander by milliseconds.
    const jack_time_t now = jack_get_time();
    const jack_nframes_t cycle = jack_last_frame_time(client);
    void* in = jack_port_get_buffer(in_port, frames);
    uint32_t n = jack_midi_get_event_count(in);
    for (uint32_t i = 0; i < n; ++i) {
        jack_midi_event_t ev;
        if (jack_midi_event_get(&ev, in, i) != 0) continue;
        record_t r{static_cast<uint64_t>(now) + uint64_t(ev.time) * 1000000 / sample_rate, cycle + ev.time,
                   static_cast<uint32_t>(ev.size)};
        if (jack_ringbuffer_write_space(received) < sizeof r + ev.size) {
            ++overruns;
            continue;
        }
        jack_ringbuffer_write(received, reinterpret_cast<const char*>(&r), sizeof r);
        jack_ringbuffer_write(received, reinterpret_cast<const char*>(ev.buffer), ev.size);
    }

    void* out = jack_port_get_buffer(out_port, frames);
    jack_midi_clear_buffer(out);
    uint32_t size = 0;
    while (jack_ringbuffer_read_space(to_send) >= sizeof size) {
        jack_ringbuffer_peek(to_send, reinterpret_cast<char*>(&size), sizeof size);
        if (jack_ringbuffer_read_space(to_send) < sizeof size + size) break;
        jack_ringbuffer_read_advance(to_send, sizeof size);
        jack_midi_data_t* dst = jack_midi_event_reserve(out, 0, size);
        if (dst) {
            jack_ringbuffer_read(to_send, reinterpret_cast<char*>(dst), size);
        } else {
            jack_ringbuffer_read_advance(to_send, size);
        }
    }
    return 0;
}

void on_shutdown(void*)
{
    done = true;
}

void on_signal(int)
{
    done = true;
}

void print_received()
{
    record_t r;
    std::vector<unsigned char> bytes;
    while (jack_ringbuffer_read_space(received) >= sizeof r) {
        jack_ringbuffer_read(received, reinterpret_cast<char*>(&r), sizeof r);
        bytes.resize(r.size);
        jack_ringbuffer_read(received, reinterpret_cast<char*>(bytes.data()), r.size);
        std::printf("%llu %u", static_cast<unsigned long long>(r.usec), r.frame);
        for (unsigned char b : bytes) std::printf(" %02x", b);
        std::printf("\n");
    }
    std::fflush(stdout);
}

// A line of hex bytes; false for anything else.
bool parse_hex(const std::string& line, std::vector<unsigned char>& bytes)
{
    std::istringstream in(line);
    std::string word;
    bytes.clear();
    while (in >> word) {
        char* end = nullptr;
        unsigned long v = std::strtoul(word.c_str(), &end, 16);
        if (*end != '\0' || v > 0xFF || word.size() > 2) return false;
        bytes.push_back(static_cast<unsigned char>(v));
    }
    return !bytes.empty();
}

void queue_send(const std::vector<unsigned char>& bytes)
{
    uint32_t size = static_cast<uint32_t>(bytes.size());
    if (jack_ringbuffer_write_space(to_send) < sizeof size + size) {
        std::fprintf(stderr, "midi_probe: send queue full\n");
        return;
    }
    jack_ringbuffer_write(to_send, reinterpret_cast<const char*>(&size), sizeof size);
    jack_ringbuffer_write(to_send, reinterpret_cast<const char*>(bytes.data()), size);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string name = "probe";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--name") == 0 && i + 1 < argc) {
            name = argv[++i];
        } else {
            std::fprintf(stderr, "usage: midi_probe [--name CLIENT]\n");
            return 2;
        }
    }

    jack_status_t status;
    client = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (!client) {
        std::fprintf(stderr, "midi_probe: no JACK server (status 0x%x)\n", static_cast<unsigned>(status));
        return 1;
    }
    received = jack_ringbuffer_create(1 << 20);
    to_send = jack_ringbuffer_create(1 << 16);
    jack_ringbuffer_mlock(received);
    in_port = jack_port_register(client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    out_port = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (!in_port || !out_port) {
        std::fprintf(stderr, "midi_probe: cannot register ports\n");
        jack_client_close(client);
        return 1;
    }
    sample_rate = jack_get_sample_rate(client);
    jack_set_process_callback(client, process, nullptr);
    jack_on_shutdown(client, on_shutdown, nullptr);
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::signal(SIGPIPE, SIG_IGN);
    if (jack_activate(client) != 0) {
        std::fprintf(stderr, "midi_probe: cannot activate\n");
        jack_client_close(client);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    std::string pending;
    while (!done) {
        pollfd fd{STDIN_FILENO, POLLIN, 0};
        int ready = poll(&fd, 1, 1);
        if (ready > 0 && (fd.revents & (POLLIN | POLLHUP))) {
            char buf[4096];
            ssize_t got = read(STDIN_FILENO, buf, sizeof buf);
            if (got <= 0) {
                done = true;
            } else {
                pending.append(buf, static_cast<size_t>(got));
                size_t nl;
                while ((nl = pending.find('\n')) != std::string::npos) {
                    std::string line = pending.substr(0, nl);
                    pending.erase(0, nl + 1);
                    std::vector<unsigned char> bytes;
                    if (line == "quit") {
                        done = true;
                    } else if (parse_hex(line, bytes)) {
                        queue_send(bytes);
                    } else if (line.find_first_not_of(" \t\r") != std::string::npos) {
                        std::fprintf(stderr, "midi_probe: not hex bytes: %s\n", line.c_str());
                    }
                }
            }
        }
        print_received();
    }
    // Give queued sends one more period before leaving.
    usleep(20000);
    jack_deactivate(client);
    print_received();
    jack_client_close(client);
    jack_ringbuffer_free(received);
    jack_ringbuffer_free(to_send);
    if (overruns) std::fprintf(stderr, "midi_probe: %u events lost\n", overruns.load());
    return 0;
}
