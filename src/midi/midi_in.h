// MIDI input: the receiving counterpart of the output port, a lister of the
// input devices, and a holder of one input and one output port.
#pragma once

#include "midi_out.h"

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

// Callbacks for incoming messages. They run on the MIDI service's own thread.
struct midi_in_listener_t {
    void* user = nullptr;
    void (*on_open_cb)(void* user, uint32_t param) = nullptr;
    void (*on_close_cb)(void* user, uint32_t param) = nullptr;
    void (*on_data_cb)(void* user, uint32_t message, uint32_t time_ms) = nullptr;
    void (*on_long_data_cb)(void* user, const unsigned char* data, uint32_t len, uint32_t time_ms) = nullptr;
};

class midi_in_t {
public:
    virtual bool is_opened() const = 0;
    virtual bool open(unsigned id, midi_in_listener_t* listener) = 0;
    virtual bool open(const char* name, midi_in_listener_t* listener) = 0;
    virtual bool close() = 0;
    virtual ~midi_in_t();

    midi_in_listener_t* listener = nullptr;
    unsigned char sysex_buffer[128] = {};
    bool stopping = false;
    std::string name;
};

class midi_in_port_t : public midi_in_t {
public:
    midi_in_port_t();
    ~midi_in_port_t() override;
    bool is_opened() const override;
    bool open(unsigned id, midi_in_listener_t* listener) override;
    bool open(const char* name, midi_in_listener_t* listener) override;
    bool close() override;

    // System Exclusive arrives in pieces of at most sizeof sysex_buffer.
    struct header_t {
        unsigned char* data = nullptr;
        uint32_t buffer_length = 0;
        uint32_t bytes_recorded = 0;
    };

    uint32_t device_id = 0;
    bool opened = false;
    void* handle = nullptr;
    header_t header;

private:
    bool start_input();
    static void on_platform_open(void* self);
    static void on_platform_close(void* self);
    static void on_platform_short(void* self, uint32_t word, uint32_t time_ms);
    static void on_platform_long(void* self, const unsigned char* data, size_t len, uint32_t time_ms);
};

midi_in_t* create_midi_in();
bool list_midi_in_devices(std::ostream& os);

// One input and one output port, created in that order and deleted in the other.
struct midi_port_pair_t {
    midi_port_pair_t();
    ~midi_port_pair_t();
    bool close_both();

    std::unique_ptr<midi_in_t> in;
    std::unique_ptr<midi_out_t> out;
};
