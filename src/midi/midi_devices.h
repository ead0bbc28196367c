// Device walks shared by the output and the input port: both number their
// devices the same way and report a device that cannot be described alike.
#pragma once

#include "midi_platform.h"

#include <iosfwd>
#include <string>

struct midi_device_kind_t {
    unsigned (midi_platform_t::*count)();
    bool (midi_platform_t::*name)(unsigned id, std::string& name);
    const char* heading;   // of the listing
};

extern const midi_device_kind_t midi_out_devices;
extern const midi_device_kind_t midi_in_devices;

// Device i's product name; on failure the error line is written.
bool describe_device(const midi_device_kind_t& kind, unsigned i, std::string& name);

// The first device whose product name contains `wanted`: its number, or -1
// after the "device name not found." line, or -2 when a device could not be
// described.
long find_device(const midi_device_kind_t& kind, const char* wanted, std::string& product);

bool list_devices(const midi_device_kind_t& kind, std::ostream& os);
