// Standard MIDI File export: the song's sequence played once, format 0.
#pragma once

#include "song.h"

#include <cstdint>
#include <ostream>
#include <string>

// The channel, velocities, swing, mute and solo are the song's, as playback
// has them. False, with any existing file left as it was, when the file
// cannot be written or the song cannot be represented (a tempo of 0, a song
// too long); `error` then says why.
bool write_smf(const std::string& path, const Song& song, std::string& error);
bool write_smf(const std::string& path, const Song& song);
void write_var_len(std::ostream& stream, uint32_t value);

// The whole file in memory; false when the song cannot be represented.
bool smf_bytes(std::string& out, const Song& song);
