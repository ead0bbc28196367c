// Channel messages and System Exclusive framing.
#include "midi_out.h"

#include <vector>

namespace {

bool send(midi_out_t& port, unsigned char status, int ch, unsigned char a, unsigned char b,
          size_t len)
{
    const unsigned char msg[4] = {static_cast<unsigned char>(status | (ch & 0x0F)), a, b, 0};
    return port.putbuf(msg, len);
}

}  // namespace

bool note_on(midi_out_t& p, int ch, unsigned char note, unsigned char velocity) { return send(p, 0x90, ch, note, velocity, 3); }
bool note_off(midi_out_t& p, int ch, unsigned char note) { return send(p, 0x90, ch, note, 0, 3); }
bool program_change(midi_out_t& p, int ch, unsigned char program) { return send(p, 0xC0, ch, program, 0, 2); }
bool control_change(midi_out_t& p, int ch, unsigned char c, unsigned char v) { return send(p, 0xB0, ch, c, v, 3); }
bool effects1_depth(midi_out_t& p, int ch, unsigned char value) { return control_change(p, ch, 91, value); }
bool all_notes_off(midi_out_t& p, int ch) { return send(p, 0xB0, ch, 123, 0, 3); }
bool pitch_bend(midi_out_t& p, int ch, unsigned char lsb, unsigned char msb) { return send(p, 0xE0, ch, lsb, msb, 3); }
bool hold_on(midi_out_t& p, int ch) { return send(p, 0xB0, ch, 64, 64, 3); }
bool hold_off(midi_out_t& p, int ch) { return send(p, 0xB0, ch, 64, 0, 3); }

bool send_roland_sysex(midi_out_t& port, unsigned char manufacturer, unsigned char device,
                       unsigned char model, unsigned char command, const unsigned char* data,
                       size_t len)
{
    std::vector<unsigned char> msg{0xF0, manufacturer, device, model, command};
    unsigned sum = 0;
    for (size_t i = 0; i < len; ++i) {
        msg.push_back(data[i]);
        sum += data[i];
    }
    msg.push_back(static_cast<unsigned char>((0u - sum) & 0x7F));
    msg.push_back(0xF7);
    size_t n = msg.size();
    msg.resize(n < 4 ? 4 : n);   // a short buffer is always read as four bytes
    return port.putbuf(msg.data(), n);
}

bool send_sysex(midi_out_t& port, const unsigned char* data, size_t len)
{
    std::vector<unsigned char> msg{0xF0};
    msg.insert(msg.end(), data, data + len);
    msg.push_back(0xF7);
    size_t n = msg.size();
    msg.resize(n < 4 ? 4 : n);   // a short buffer is always read as four bytes
    return port.putbuf(msg.data(), n);
}
