#include "probe_process.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

probe_process_t::probe_process_t(const std::string& client)
{
    int in_pipe[2], out_pipe[2];
    if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0) return;
    pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);   // never outlive a test that crashed
        dup2(in_pipe[0], STDIN_FILENO);
        dup2(out_pipe[1], STDOUT_FILENO);
        close(in_pipe[0]);
        close(in_pipe[1]);
        close(out_pipe[0]);
        close(out_pipe[1]);
        execl(MIDI_PROBE_PATH, "midi_probe", "--name", client.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    to_probe = in_pipe[1];
    from_probe = out_pipe[0];
    std::signal(SIGPIPE, SIG_IGN);
    reader = std::thread([this] { read_lines(); });
}

probe_process_t::~probe_process_t()
{
    stop();
}

bool probe_process_t::stop()
{
    if (pid <= 0) return false;
    if (to_probe >= 0) {
        if (write(to_probe, "quit\n", 5) != 5) kill(pid, SIGTERM);
        close(to_probe);
        to_probe = -1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    if (reader.joinable()) reader.join();
    close(from_probe);
    from_probe = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void probe_process_t::read_lines()
{
    reader_id = static_cast<pid_t>(syscall(SYS_gettid));
    FILE* in = fdopen(dup(from_probe), "r");
    char line[8192];
    while (in && std::fgets(line, sizeof line, in)) {
        std::lock_guard<std::mutex> lock(mutex);
        if (std::string(line) == "ready\n") {
            ready = true;
        } else {
            std::istringstream words(line);
            event_t ev{};
            words >> ev.usec >> ev.frame;
            unsigned byte;
            while (words >> std::hex >> byte) ev.bytes.push_back(static_cast<unsigned char>(byte));
            received.push_back(std::move(ev));
        }
        changed.notify_all();
    }
    if (in) std::fclose(in);
    std::lock_guard<std::mutex> lock(mutex);
    ended = true;
    changed.notify_all();
}

bool probe_process_t::wait_ready(int timeout_ms)
{
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return ready || ended; }) &&
           ready;
}

bool probe_process_t::wait_events(size_t n, int timeout_ms)
{
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                            [&] { return received.size() >= n || ended; }) &&
           received.size() >= n;
}

std::vector<probe_process_t::event_t> probe_process_t::events()
{
    std::lock_guard<std::mutex> lock(mutex);
    return received;
}

void probe_process_t::clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    received.clear();
}

bool probe_process_t::send(const std::vector<unsigned char>& bytes)
{
    std::string line;
    char hex[4];
    for (unsigned char b : bytes) {
        std::snprintf(hex, sizeof hex, "%02x ", b);
        line += hex;
    }
    line += '\n';
    return to_probe >= 0 && write(to_probe, line.data(), line.size()) == static_cast<ssize_t>(line.size());
}

std::vector<std::string> hex_of(const std::vector<probe_process_t::event_t>& events)
{
    std::vector<std::string> out;
    for (const auto& ev : events) {
        std::string s;
        char hex[4];
        for (unsigned char b : ev.bytes) {
            std::snprintf(hex, sizeof hex, s.empty() ? "%02x" : " %02x", b);
            s += hex;
        }
        out.push_back(s);
    }
    return out;
}
