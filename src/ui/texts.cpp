#include "texts.h"

#include <string>

namespace stepmill {

Glib::ustring sprite_label(uint64_t i)
{
    if (i < 10)
        return Glib::ustring(1, static_cast<char>('0' + i));
    if (i < 36)
        return Glib::ustring(1, static_cast<char>('a' + (i - 10)));
    if (i < 62)
        return Glib::ustring(1, static_cast<char>('A' + (i - 36)));
    return Glib::ustring(std::to_string(i));
}

namespace texts {

const char* const bpm_label = "beat per minute";
const char* const play_stop = "再生/停止";
const char* const device_failed = "演奏を止めました。MIDI出力装置が使えません: ";

const char* const usage_prefix = "usage: ";
const char* const usage_suffix = " <device> [file]";
const char* const allocate_failed = "midi_out_t allocate failed.";
const char* const open_failed = "midiout open() failed.";
const char* const file_read_failed = ": file read failed.";
const char* const menu_failed = "Building menus and toolbar failed: ";
const char* const gmenu_not_found = "gmenu not found.";

const char* const version_name = "version";
const char version_short = 'v';
const char* const version_description = "show version info.";
const char* const version_arg = "ver";

}  // namespace texts
}  // namespace stepmill
