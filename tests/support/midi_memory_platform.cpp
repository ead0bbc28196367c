#include "midi_memory_platform.h"

#include <algorithm>
#include <deque>

// Messages are written at once; commands wait for the next period, as a real
// driver's queue makes them.
class midi_memory_platform_t::driver_t : public midi_driver_t, public midi_sink_t {
public:
    driver_t(midi_memory_platform_t& platform, unsigned device) : platform(platform), device(device) {}
    ~driver_t() override
    {
        flush();   // what was queued goes out before the port closes
        ++platform.close_calls;
        if (platform.output == this) platform.output = nullptr;
    }

    bool send(const unsigned char* bytes, size_t len) override
    {
        if (platform.fail_short && len <= 3 && bytes[0] != 0xF0) return false;
        return write(platform.time, bytes, len);
    }
    bool post(const unsigned char* data, size_t len) override
    {
        commands.emplace_back(data, data + len);
        return true;
    }
    void flush() override { period(0); }
    void attach(midi_source_t* next) override { source = next; }
    midi_source_t* attached() const override { return source; }
    double rate() const override { return midi_memory_platform_t::rate; }
    uint64_t now() const override { return platform.time; }
    bool failed(std::string&) const override { return false; }
    bool write(uint64_t at, const unsigned char* bytes, size_t len) override
    {
        platform.sent.push_back({device, std::vector<unsigned char>(bytes, bytes + len), at});
        return true;
    }

    void period(uint64_t units)
    {
        for (const auto& c : commands)
            if (source) source->command(c.data(), c.size(), platform.time);
        commands.clear();
        if (source) source->render(platform.time, units, *this);
    }

    midi_memory_platform_t& platform;
    unsigned device;
    midi_source_t* source = nullptr;
    std::deque<std::vector<unsigned char>> commands;
};

midi_memory_platform_t::midi_memory_platform_t() { set_midi_platform(this); }

midi_memory_platform_t::~midi_memory_platform_t()
{
    set_midi_platform(nullptr);
    for (in_port_t* port : open_inputs) delete port;
}

void midi_memory_platform_t::advance(uint64_t units, uint64_t period)
{
    for (uint64_t done = 0; done < units; done += period) {
        const uint64_t step = std::min(period, units - done);
        if (output) output->period(step);
        time += step;
    }
}

std::unique_ptr<midi_driver_t> midi_memory_platform_t::out_open(unsigned id)
{
    if (id >= out_devices.size()) return nullptr;
    auto driver = std::make_unique<driver_t>(*this, id);
    output = driver.get();
    return driver;
}

void* midi_memory_platform_t::in_open(unsigned id, const in_events_t& events)
{
    if (id >= in_devices.size()) return nullptr;
    open_inputs.push_back(new in_port_t{id, events, false});
    if (events.on_open) events.on_open(events.user);
    return open_inputs.back();
}

int midi_memory_platform_t::in_start(void* handle)
{
    if (!fail_start) static_cast<in_port_t*>(handle)->started = true;
    return fail_start;
}

int midi_memory_platform_t::in_stop(void* handle)
{
    static_cast<in_port_t*>(handle)->started = false;
    return 0;
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
