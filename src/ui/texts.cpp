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
const char* const untitled = "無題のソング";
const char* const swing_label = "swing";
const char* const channel_label = "channel";
const char* const clock_label = "MIDI clock";
const char* const follow_label = "JACK transport";
const char* const master_label = "timebase master";
const char* const master_refused = "タイムベースマスターになれません。ほかのプログラムがマスターです。";

const char* const color_title = "スプライトの色";
const char* const mute_prefix = "ミュート ";
const char* const solo_prefix = "ソロ ";

const char* const overwrite_title = "上書き確認";
const char* const overwrite_suffix = " に上書き保存してもよろしいですか?";
const char* const save_failed_title = "ファイル保存エラー";
const char* const save_failed_suffix = " の保存に失敗しました";
const char* const open_failed_title = "ファイルオープンエラー";
const char* const open_failed_suffix = "のオープンに失敗しました";
const char* const open_error_title = "file open error.";
const char* const read_warnings_title = "読み込めなかった行";
const char* const save_changes_title = "保存確認";
const char* const save_changes_suffix = " への変更を保存しますか?";
const char* const save_button = "保存(_S)";
const char* const discard_button = "保存しない(_D)";
const char* const cancel_button = "キャンセル(_C)";
const char* const restore_title = "復元確認";
const char* const restore_prefix = "保存されずに終わった ";
const char* const restore_suffix = " への変更があります。復元しますか?";
const char* const restore_button = "復元(_R)";
const char* const discard_recovery_button = "破棄(_D)";

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
