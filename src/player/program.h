// What the whole program shares: its title and the one MIDI output port.
#pragma once

#include "midi_out.h"

#include <memory>

// "GroovePlotterStudio Version 1.3": the window title, the version line and
// the text the instrument's display shows while playing.
extern const char* const program_title;

// Owns the one output port from start-up to static destruction. Assigning a
// new port deletes the old one.
extern std::unique_ptr<midi_out_t> midi_out;
