// MIDI output: the port interface, its implementation on the platform's MIDI
// service, device listing, the <device> argument parser and message framing.
#pragma once

#include "midi_driver.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

class midi_out_t {
public:
    virtual bool is_opened() const = 0;
    virtual bool open(unsigned id) = 0;
    virtual bool open(const char* name) = 0;
    virtual bool putbuf(const unsigned char* buf, size_t len) = 0;
    virtual bool close() = 0;
    virtual ~midi_out_t();
    // The open port's driver, through which a player plays in time; null
    // while closed.
    virtual midi_driver_t* driver() const { return nullptr; }

    std::string name;   // product name of the opened device
};

class midi_out_port_t : public midi_out_t {
public:
    midi_out_port_t();
    ~midi_out_port_t() override;
    bool is_opened() const override;
    bool open(unsigned id) override;
    bool open(const char* name) override;
    bool putbuf(const unsigned char* buf, size_t len) override;
    bool close() override;
    midi_driver_t* driver() const override { return running.get(); }

private:
    bool open_device(unsigned id);

    std::unique_ptr<midi_driver_t> running;   // the platform's driver while open
    bool opened = false;
};

midi_out_t* create_midi_out();
bool list_midi_out_devices(std::ostream& os);
void parse_device_arg(const char*& name, unsigned& id, const char* arg);

bool note_on(midi_out_t& port, int ch, unsigned char note, unsigned char velocity);
bool note_off(midi_out_t& port, int ch, unsigned char note);
bool program_change(midi_out_t& port, int ch, unsigned char program);
bool control_change(midi_out_t& port, int ch, unsigned char controller, unsigned char value);
bool effects1_depth(midi_out_t& port, int ch, unsigned char value);
bool all_notes_off(midi_out_t& port, int ch);
bool pitch_bend(midi_out_t& port, int ch, unsigned char lsb, unsigned char msb);
bool hold_on(midi_out_t& port, int ch);
bool hold_off(midi_out_t& port, int ch);

bool send_roland_sysex(midi_out_t& port, unsigned char manufacturer, unsigned char device,
                       unsigned char model, unsigned char command,
                       const unsigned char* data, size_t len);
bool send_sysex(midi_out_t& port, const unsigned char* data, size_t len);

// Called just before every error line the device layer writes.
void error_hook();
