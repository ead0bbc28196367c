#include "midi_memory_platform.h"

#include <algorithm>

midi_memory_platform_t::midi_memory_platform_t()
{
    set_midi_platform(this);
}

midi_memory_platform_t::~midi_memory_platform_t()
{
    set_midi_platform(nullptr);
    for (in_port_t* port : open_inputs) delete port;
}

namespace {

// Handles are device numbers plus one, so that a valid handle is never null.
void* handle_of(unsigned id) { return reinterpret_cast<void*>(static_cast<uintptr_t>(id) + 1); }
unsigned device_of(void* handle) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(handle) - 1); }

}  // namespace

unsigned midi_memory_platform_t::out_count() { return static_cast<unsigned>(out_devices.size()); }

bool midi_memory_platform_t::out_name(unsigned id, std::string& name)
{
    if (static_cast<int>(id) == fail_name_at || id >= out_devices.size()) return false;
    name = out_devices[id];
    return true;
}

void* midi_memory_platform_t::out_open(unsigned id)
{
    return fail_open || id >= out_devices.size() ? nullptr : handle_of(id);
}

bool midi_memory_platform_t::out_short(void* handle, uint32_t word)
{
    if (fail_short) return false;
    std::vector<unsigned char> bytes = {static_cast<unsigned char>(word), static_cast<unsigned char>(word >> 8),
                                        static_cast<unsigned char>(word >> 16)};
    bytes.resize(midi_short_length(bytes[0]));
    sent.push_back({device_of(handle), bytes});
    return true;
}

void midi_memory_platform_t::out_long(void* handle, const unsigned char* buf, size_t len)
{
    sent.push_back({device_of(handle), std::vector<unsigned char>(buf, buf + len)});
}

bool midi_memory_platform_t::out_close(void*)
{
    ++close_calls;
    return true;
}

unsigned midi_memory_platform_t::in_count() { return static_cast<unsigned>(in_devices.size()); }

bool midi_memory_platform_t::in_name(unsigned id, std::string& name)
{
    if (static_cast<int>(id) == fail_name_at || id >= in_devices.size()) return false;
    name = in_devices[id];
    return true;
}

void* midi_memory_platform_t::in_open(unsigned id, const in_events_t& events)
{
    if (fail_open || id >= in_devices.size()) return nullptr;
    auto* port = new in_port_t{id, events, false};
    open_inputs.push_back(port);
    if (events.on_open) events.on_open(events.user);
    return port;
}

int midi_memory_platform_t::in_start(void* handle)
{
    if (fail_start) return fail_start;
    static_cast<in_port_t*>(handle)->started = true;
    return 0;
}

int midi_memory_platform_t::in_stop(void* handle)
{
    auto* port = static_cast<in_port_t*>(handle);
    if (port->events.on_long && port->started)
        port->events.on_long(port->events.user, long_on_stop.data(), long_on_stop.size(), 0);
    port->started = false;
    return fail_stop;
}

int midi_memory_platform_t::in_close(void* handle)
{
    auto* port = static_cast<in_port_t*>(handle);
    if (port->events.on_close) port->events.on_close(port->events.user);
    open_inputs.erase(std::remove(open_inputs.begin(), open_inputs.end(), port), open_inputs.end());
    delete port;
    ++close_calls;
    return fail_close;
}

void midi_memory_platform_t::receive_short(unsigned id, uint32_t word, uint32_t time_ms)
{
    for (in_port_t* port : open_inputs)
        if (port->id == id && port->started && port->events.on_short)
            port->events.on_short(port->events.user, word, time_ms);
}

void midi_memory_platform_t::receive_long(unsigned id, const std::vector<unsigned char>& bytes, uint32_t time_ms)
{
    for (in_port_t* port : open_inputs)
        if (port->id == id && port->started && port->events.on_long)
            port->events.on_long(port->events.user, bytes.data(), bytes.size(), time_ms);
}
