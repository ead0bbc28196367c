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

const char* const help_long = "--help";
const char* const help_short = "-h";
const char* const help_text =
    "\n"
    "A drum step sequencer that plays on a MIDI instrument.\n"
    "\n"
    "arguments:\n"
    "  <device>       the MIDI output device: its number in the device list, or any\n"
    "                 part of its name (the first device whose name contains it)\n"
    "  [file]         a song file (.trm) to open; without it, a new song\n"
    "\n"
    "options:\n"
    "  -v, --version  print the version and exit; it follows <device> and [file]\n"
    "  -h, --help     print this help and exit; it stands in place of <device>\n"
    "\n"
    "Without arguments the program prints the usage and the MIDI output devices.\n"
    "\n"
    "exit status:\n"
    "  0  the window closed, or Ctrl+Q or Ctrl+C ended the program, or the usage,\n"
    "     this help or the version was printed\n"
    "  1  the device could not be opened, the song file could not be read, or an\n"
    "     option is unknown";

}  // namespace texts
}  // namespace stepmill
