// The File menu's commands: Open, Save As and Export.
#include "main_window.h"

#include "document.h"
#include "file_dialogs.h"
#include "sequence_widget.h"
#include "smf_writer.h"

#include <glib.h>
#include <glibmm/convert.h>

#include <sys/stat.h>

#include <functional>
#include <sstream>

namespace stepmill {

namespace {

const char* const overwrite_title = "上書き確認";
const char* const overwrite_suffix = " に上書き保存してもよろしいですか?";
const char* const save_failed_title = "ファイル保存エラー";
const char* const save_failed_suffix = " の保存に失敗しました";
const char* const open_failed_title = "ファイルオープンエラー";
const char* const open_failed_suffix = "のオープンに失敗しました";
const char* const error_dialog_title = "file open error.";

bool path_exists(const std::string& path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0;
}

// File names come from the file system; the window and the boxes show them
// as text even when they are not valid UTF-8.
Glib::ustring shown_name(const std::string& name)
{
    return Glib::filename_display_name(name);
}

// Asks for a path until it is new or the user agrees to replace what is
// there; nothing when the chooser is cancelled.
std::optional<std::string> choose_target(FileDialogs& dialogs, PathChooser& chooser)
{
    for (;;) {
        std::optional<std::string> name = chooser.ask();
        if (!name || !path_exists(*name))
            return name;
        if (dialogs.confirm(overwrite_title, shown_name(*name) + overwrite_suffix))
            return name;
    }
}

// The reader's messages may quote a file's bytes; the text view takes UTF-8.
Glib::ustring valid_text(const std::string& bytes)
{
    gchar* valid = g_utf8_make_valid(bytes.data(), static_cast<gssize>(bytes.size()));
    Glib::ustring text(valid);
    g_free(valid);
    return text;
}

// The common road of Save As and Export: the name written, or nothing when
// the user cancelled or writing failed.
std::optional<std::string> save_with(FileDialogs& dialogs, FileCommand command,
                                     const std::function<bool(const std::string&)>& write)
{
    std::unique_ptr<PathChooser> chooser = dialogs.chooser(command);
    std::optional<std::string> name = choose_target(dialogs, *chooser);
    if (name && !write(*name)) {
        dialogs.show_error(save_failed_title, shown_name(*name) + save_failed_suffix);
        return std::nullopt;
    }
    return name;
}

}  // namespace

void MainWindow::on_open()
{
    std::unique_ptr<PathChooser> chooser = dialogs->chooser(FileCommand::open);
    std::optional<std::string> name = chooser->ask();
    if (!name)
        return;

    std::ostringstream reader_messages;
    if (!load_song(song, *name, reader_messages)) {
        // The box stays on the screen until the text dialog is answered.
        std::unique_ptr<ShownMessage> box =
            dialogs->show_error(open_failed_title, shown_name(*name) + open_failed_suffix);
        dialogs->show_error_text(error_dialog_title, valid_text(reader_messages.str()));
        return;
    }

    // A good read's complaints about single lines are dropped unseen.
    clear_song_views();
    cursor_index = -1;
    delete separate;
    separate = nullptr;
    const uint64_t n = song.sprites.size();
    menu_bar.add_sprite_actions(n);
    icon_buttons.rebuild(n);
    build_song_views();
    bpm_spin.set_value(static_cast<double>(song.bpm));
    player.update(song);
    show_all_children(true);
    set_title(shown_name(*name));
}

void MainWindow::on_save_as()
{
    std::optional<std::string> written = save_with(
        *dialogs, FileCommand::save_as, [this](const std::string& path) { return song.write(path); });
    if (written)
        set_title(shown_name(*written));
}

void MainWindow::on_export()
{
    save_with(*dialogs, FileCommand::export_smf,
              [this](const std::string& path) { return write_smf(path, song, player); });
}

}  // namespace stepmill
