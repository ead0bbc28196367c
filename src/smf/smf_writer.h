// Standard MIDI File export: the song's sequence played once, format 0.
#pragma once

#include "player.h"
#include "song.h"

#include <cstdint>
#include <ostream>
#include <string>

// False, with any existing file left as it was, when the file cannot be
// written or the song cannot be represented (a tempo of 0, a song too long).
bool write_smf(const std::string& path, const Song& song, const Player& player);
void write_var_len(std::ostream& stream, uint32_t value);

bool write_smf(const std::string& path, const Song& song, uint8_t channel, uint8_t velocity);
// The same, with the reason of a failure in `error`.
bool write_smf(const std::string& path, const Song& song, uint8_t channel, uint8_t velocity, std::string& error);

// The whole file in memory; false when the song cannot be represented.
bool smf_bytes(std::string& out, const Song& song, uint8_t channel, uint8_t velocity);
