// The output port on the platform layer, the device lister and the
// <device> argument parser.
#include "midi_devices.h"
#include "midi_out.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <iostream>

void error_hook() {}

midi_out_t::~midi_out_t() = default;

midi_out_port_t::midi_out_port_t() = default;

midi_out_port_t::~midi_out_port_t()
{
    close();
}

bool midi_out_port_t::is_opened() const
{
    return opened;
}

const midi_device_kind_t midi_out_devices = {&midi_platform_t::out_count, &midi_platform_t::out_name,
                                              "output devices:"};
const midi_device_kind_t midi_in_devices = {&midi_platform_t::in_count, &midi_platform_t::in_name,
                                             "input devices:"};

bool describe_device(const midi_device_kind_t& kind, unsigned i, std::string& name)
{
    if ((midi_platform().*kind.name)(i, name)) return true;
    error_hook();
    std::cerr << i << ": GetDevCaps() error." << std::endl;
    return false;
}

long find_device(const midi_device_kind_t& kind, const char* wanted, std::string& product)
{
    unsigned count = (midi_platform().*kind.count)();
    for (unsigned i = 0; i < count; ++i) {
        if (!describe_device(kind, i, product)) return -2;
        if (product.find(wanted) != std::string::npos) return i;
    }
    error_hook();
    std::cerr << wanted << ": device name not found." << std::endl;
    return -1;
}

bool list_devices(const midi_device_kind_t& kind, std::ostream& os)
{
    os << std::endl << kind.heading << std::endl;
    unsigned count = (midi_platform().*kind.count)();
    for (unsigned i = 0; i < count; ++i) {
        std::string product;
        if (!describe_device(kind, i, product)) return false;
        os << i << ": " << product << std::endl;
    }
    return true;
}

bool midi_out_port_t::open_device(unsigned id)
{
    running = midi_platform().out_open(id);
    if (!running) {
        error_hook();
        std::cerr << "DeviceID=" << id << ": can't open MIDI device." << std::endl;
        return false;
    }
    opened = true;
    return true;
}

bool midi_out_port_t::open(unsigned id)
{
    if (opened) return false;
    unsigned count = midi_platform().out_count();
    if (id >= count) {
        error_hook();
        std::cerr << static_cast<int>(id) << ">= " << count << ": devid over." << std::endl;
        return false;
    }
    for (unsigned i = 0; i <= id; ++i) {
        std::string product;
        if (!describe_device(midi_out_devices, i, product)) return false;
        if (i == id) name = product;
    }
    return open_device(id);
}

bool midi_out_port_t::open(const char* wanted)
{
    if (opened) return false;
    std::string product;
    long i = find_device(midi_out_devices, wanted, product);
    if (i < 0) return false;
    name = product;
    return open_device(static_cast<unsigned>(i));
}

bool midi_out_port_t::putbuf(const unsigned char* buf, size_t len)
{
    if (!opened) {
        error_hook();
        std::cerr << "putbuf(" << len << "): not opened." << std::endl;
        return false;
    }
    // A short message comes in a 4-byte array: its status byte tells its
    // length. System Exclusive has none: always the length given.
    if (len <= 4 && buf[0] != 0xF0) len = midi_short_length(buf[0]);
    return running->send(buf, len);
}

bool midi_out_port_t::close()
{
    if (!opened) return true;
    opened = false;
    running.reset();   // sends what was queued, then stops
    return true;
}

midi_out_t* create_midi_out()
{
    return new midi_out_port_t;
}

bool list_midi_out_devices(std::ostream& os)
{
    return list_devices(midi_out_devices, os);
}

void parse_device_arg(const char*& name, unsigned& id, const char* arg)
{
    name = nullptr;
    if (arg[0] == '-' && arg[1] == '\0') {
        id = static_cast<unsigned>(-1);
        return;
    }
    if (arg[0] == '-' || (arg[0] >= '0' && arg[0] <= '9')) {
        // Read as a 32-bit signed long: out-of-range values saturate, so
        // "4294967296" is a number past every device, never device 0.
        char* end = nullptr;
        long long value = std::strtoll(arg, &end, 0);
        value = std::clamp<long long>(value, INT32_MIN, INT32_MAX);
        id = static_cast<uint32_t>(arg[0] == '-' ? value - 1 : value);
        if (*end != '\0') name = arg;
        return;
    }
    name = arg;
}
