// The user interface's fixed texts, held in UTF-8.
#pragma once

#include <glibmm/ustring.h>

#include <cstdint>

namespace stepmill {

// The short name of sprite i: "0"-"9", "a"-"z", "A"-"Z", then decimal from 62.
Glib::ustring sprite_label(uint64_t i);

namespace texts {

// Main window.
extern const char* const bpm_label;          // "beat per minute"
extern const char* const play_stop;          // "再生/停止"
extern const char* const device_failed;      // before the device layer's reason
extern const char* const untitled;           // the name of a song never saved
extern const char* const swing_label;        // "swing"
extern const char* const channel_label;      // "channel"
extern const char* const clock_label;        // "MIDI clock"
extern const char* const follow_label;       // the JACK transport's check box
extern const char* const master_label;       // the timebase master's check box
extern const char* const master_refused;     // another program is the master

// Sprite editor.
extern const char* const color_title;        // the colour button's chooser
extern const char* const mute_prefix;        // before the drum's name
extern const char* const solo_prefix;

// Files: the messages of the file commands, the unsaved-changes question and
// the offer of a recovered song.
extern const char* const overwrite_title;
extern const char* const overwrite_suffix;
extern const char* const save_failed_title;
extern const char* const save_failed_suffix;
extern const char* const open_failed_title;
extern const char* const open_failed_suffix;
extern const char* const open_error_title;
extern const char* const read_warnings_title;
extern const char* const save_changes_title;
extern const char* const save_changes_suffix;
extern const char* const save_button;
extern const char* const discard_button;
extern const char* const cancel_button;
extern const char* const restore_title;
extern const char* const restore_prefix;
extern const char* const restore_suffix;
extern const char* const restore_button;
extern const char* const discard_recovery_button;

// Command line and start-up failures.
extern const char* const usage_prefix;       // "usage: "
extern const char* const usage_suffix;       // " <device> [file]"
extern const char* const allocate_failed;    // "midi_out_t allocate failed."
extern const char* const open_failed;        // "midiout open() failed."
extern const char* const file_read_failed;   // ": file read failed."
extern const char* const menu_failed;        // "Building menus and toolbar failed: "
extern const char* const gmenu_not_found;    // "gmenu not found."

// The one command-line option.
extern const char* const version_name;       // "version"
extern const char version_short;             // 'v'
extern const char* const version_description;
extern const char* const version_arg;

// The help option: the first argument, in place of the device.
extern const char* const help_long;          // "--help"
extern const char* const help_short;         // "-h"
extern const char* const help_text;          // what follows the usage line

}  // namespace texts
}  // namespace stepmill
