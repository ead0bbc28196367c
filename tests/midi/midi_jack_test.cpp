// The RtMidi platform against the tests' private JACK server, with JACK's own
// MIDI monitor (jack_midi_dump) as the instrument.
#include "midi_out.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// jack_midi_dump, started with its output in a file, stopped at the end.
class monitor_t {
public:
    monitor_t() : path(testing::TempDir() + "midi_dump.txt")
    {
        pid = fork();
        if (pid == 0) {
            std::freopen(path.c_str(), "w", stdout);
            std::freopen("/dev/null", "w", stderr);
            execlp("jack_midi_dump", "jack_midi_dump", static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~monitor_t()
    {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    std::string text() const
    {
        std::ifstream in(path);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }

private:
    std::string path;
    pid_t pid;
};

std::string listing()
{
    std::ostringstream out;
    list_midi_out_devices(out);
    return out.str();
}

}  // namespace

TEST(MidiJack, ListsOpensAndSends)
{
    monitor_t monitor;
    for (int i = 0; i < 100 && listing().find("midi-monitor:input") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::string devices = listing();
    ASSERT_NE(devices.find(": midi-monitor:input\n"), std::string::npos) << devices;

    std::unique_ptr<midi_out_t> port(create_midi_out());
    ASSERT_TRUE(port->open("monitor"));
    EXPECT_EQ(port->name, "midi-monitor:input");
    EXPECT_TRUE(note_on(*port, 9, 36, 127));
    const unsigned char data[4] = {0x20, 0x01, 0x00, 0x00};
    EXPECT_TRUE(send_roland_sysex(*port, 0x41, 0x10, 0x16, 0x12, data, 4));

    std::string seen;
    for (int i = 0; i < 100; ++i) {
        seen = monitor.text();
        if (seen.find("f7") != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_NE(seen.find("99 24 7f"), std::string::npos) << seen;
    EXPECT_NE(seen.find("f0 41 10 16 12 20 01 00 00 5f f7"), std::string::npos) << seen;
}

// Opening, sending, closing and deleting a port again and again is clean.
TEST(MidiJack, ManyPortLifetimes)
{
    monitor_t monitor;
    std::unique_ptr<midi_out_t> first(create_midi_out());
    for (int i = 0; i < 100 && !first->is_opened(); ++i) {
        std::ostringstream quiet;
        std::streambuf* old = std::cerr.rdbuf(quiet.rdbuf());
        first->open("monitor");
        std::cerr.rdbuf(old);
        if (!first->is_opened()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(first->is_opened());
    first.reset();
    for (int i = 0; i < 300; ++i) {
        std::unique_ptr<midi_out_t> port(create_midi_out());
        ASSERT_TRUE(port->open("monitor")) << i;
        EXPECT_TRUE(note_on(*port, 9, 42, 100));
        EXPECT_TRUE(port->close());
    }
}
