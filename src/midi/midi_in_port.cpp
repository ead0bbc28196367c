// The input port on the platform layer, the input lister and the port pair.
#include "midi_devices.h"
#include "midi_in.h"

#include <algorithm>
#include <cstring>
#include <iostream>

midi_in_t::~midi_in_t() = default;

midi_in_port_t::midi_in_port_t() = default;

midi_in_port_t::~midi_in_port_t()
{
    close();
}

bool midi_in_port_t::is_opened() const
{
    return opened;
}

bool midi_in_port_t::open(unsigned id, midi_in_listener_t* new_listener)
{
    // Opening the device a second time over the first would lose the first handle.
    if (opened) return false;
    unsigned count = midi_platform().in_count();
    for (unsigned i = 0; i < count; ++i) {
        std::string product;
        if (!describe_device(midi_in_devices, i, product)) return false;
        if (i == id) name = product;
    }
    if (id >= count) {
        error_hook();
        std::cerr << static_cast<int>(id) << ">= " << count << ": devid over." << std::endl;
        return false;
    }
    device_id = id;
    listener = new_listener;
    return start_input();
}

bool midi_in_port_t::open(const char* wanted, midi_in_listener_t* new_listener)
{
    if (opened) return false;
    std::string product;
    long i = find_device(midi_in_devices, wanted, product);
    if (i < 0) return false;
    name = product;
    device_id = static_cast<uint32_t>(i);
    listener = new_listener;
    return start_input();
}

bool midi_in_port_t::start_input()
{
    std::cout << "select device: " << device_id << ": " << name << std::endl;
    stopping = false;
    midi_platform_t::in_events_t events{this, on_platform_open, on_platform_close, on_platform_short,
                                        on_platform_long};
    handle = midi_platform().in_open(device_id, events);
    if (!handle) {
        error_hook();
        std::cerr << "DeviceID=" << device_id << ": can't open MIDI device." << std::endl;
        return false;
    }
    if (int code = midi_platform().in_start(handle)) {
        error_hook();
        std::cerr << code << ": can't start MIDI in." << std::endl;
        // A device left open here could never be closed through this port.
        midi_platform().in_close(handle);
        handle = nullptr;
        return false;
    }
    header = header_t{sysex_buffer, sizeof sysex_buffer, 0};
    opened = true;
    return true;
}

bool midi_in_port_t::close()
{
    if (!opened) return true;
    stopping = true;
    bool ok = true;
    if (int code = midi_platform().in_stop(handle)) {
        error_hook();
        std::cerr << code << ": can't stop MIDI in." << std::endl;
        ok = false;
    }
    if (int code = midi_platform().in_close(handle)) {
        error_hook();
        std::cerr << code << ": can't close MIDI in." << std::endl;
        ok = false;
    }
    handle = nullptr;
    opened = false;
    return ok;
}

void midi_in_port_t::on_platform_open(void* self)
{
    auto* port = static_cast<midi_in_port_t*>(self);
    if (port->listener && port->listener->on_open_cb) port->listener->on_open_cb(port->listener->user, 0);
}

void midi_in_port_t::on_platform_close(void* self)
{
    auto* port = static_cast<midi_in_port_t*>(self);
    if (port->listener && port->listener->on_close_cb) port->listener->on_close_cb(port->listener->user, 0);
}

void midi_in_port_t::on_platform_short(void* self, uint32_t word, uint32_t time_ms)
{
    auto* port = static_cast<midi_in_port_t*>(self);
    if (port->listener && port->listener->on_data_cb) port->listener->on_data_cb(port->listener->user, word, time_ms);
}

// A whole System Exclusive message, handed on through the buffer in pieces as
// a service that fills a fixed buffer would.
void midi_in_port_t::on_platform_long(void* self, const unsigned char* data, size_t len, uint32_t time_ms)
{
    auto* port = static_cast<midi_in_port_t*>(self);
    size_t done = 0;
    do {
        size_t piece = std::min(len - done, sizeof port->sysex_buffer);
        if (piece) std::memcpy(port->sysex_buffer, data + done, piece);
        port->header.bytes_recorded = static_cast<uint32_t>(piece);
        done += piece;
        midi_in_listener_t* l = port->listener;
        if (l && l->on_long_data_cb && port->header.bytes_recorded != 0)
            l->on_long_data_cb(l->user, port->sysex_buffer, port->header.bytes_recorded, time_ms);
        // While closing, the buffer stays with us: nothing more is delivered.
        if (port->stopping) return;
        port->header.bytes_recorded = 0;
    } while (done < len);
}

midi_in_t* create_midi_in()
{
    return new midi_in_port_t;
}

bool list_midi_in_devices(std::ostream& os)
{
    return list_devices(midi_in_devices, os);
}

midi_port_pair_t::midi_port_pair_t() : in(create_midi_in()), out(create_midi_out()) {}

midi_port_pair_t::~midi_port_pair_t()
{
    out.reset();
    in.reset();
}

bool midi_port_pair_t::close_both()
{
    bool out_ok = out->close();
    bool in_ok = in->close();
    return out_ok && in_ok;
}
