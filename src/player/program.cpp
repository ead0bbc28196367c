#include "program.h"

const char* const program_title = "GroovePlotterStudio Version 1.3";

std::unique_ptr<midi_out_t> midi_out;
