// The File menu's commands (Open, Save, Save As, Export), the question about
// unsaved changes, and the offer of a recovered song.
#include "main_window.h"

#include "program.h"
#include "smf_writer.h"
#include "texts.h"

#include <glib.h>
#include <glibmm/convert.h>

#include <sys/stat.h>

#include <functional>
#include <sstream>

namespace stepmill {

namespace {

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

// The reader's messages may quote a file's bytes; the text view takes UTF-8.
Glib::ustring valid_text(const std::string& bytes)
{
    gchar* valid = g_utf8_make_valid(bytes.data(), static_cast<gssize>(bytes.size()));
    Glib::ustring text(valid);
    g_free(valid);
    return text;
}

// Asks for a path until it is new or the user agrees to replace what is
// there; nothing when the chooser is cancelled.
std::optional<std::string> choose_target(FileDialogs& dialogs, FileCommand command)
{
    std::unique_ptr<PathChooser> chooser = dialogs.chooser(command);
    for (;;) {
        std::optional<std::string> name = chooser->ask();
        if (!name || !path_exists(*name))
            return name;
        if (dialogs.confirm(texts::overwrite_title, shown_name(*name) + texts::overwrite_suffix))
            return name;
    }
}

// A failed save or export: the path, and under it the system's reason.
void show_save_failure(FileDialogs& dialogs, const std::string& path, const std::string& reason)
{
    dialogs.show_error(texts::save_failed_title, shown_name(path) + texts::save_failed_suffix + "\n" + reason);
}

}  // namespace

void MainWindow::update_title()
{
    Glib::ustring name = titled_path.empty() ? Glib::ustring(program_title) : shown_name(titled_path);
    set_title(doc.modified() ? "*" + name : name);
}

void MainWindow::on_open()
{
    if (!settle_changes())
        return;
    std::unique_ptr<PathChooser> chooser = dialogs->chooser(FileCommand::open);
    std::optional<std::string> name = chooser->ask();
    if (!name)
        return;

    std::ostringstream reader_messages;
    if (!doc.open(*name, reader_messages)) {
        // The box stays on the screen until the text dialog is answered.
        std::unique_ptr<ShownMessage> box =
            dialogs->show_error(texts::open_failed_title, shown_name(*name) + texts::open_failed_suffix);
        dialogs->show_error_text(texts::open_error_title, valid_text(reader_messages.str()));
        return;
    }
    titled_path = *name;
    update_title();
    // What was skipped, once the window shows what was read.
    if (!reader_messages.str().empty())
        dialogs->show_error_text(texts::read_warnings_title, valid_text(reader_messages.str()));
}

bool MainWindow::save_to(const std::string& path)
{
    std::string error;
    if (!doc.save(path, error)) {
        show_save_failure(*dialogs, path, error);
        return false;
    }
    titled_path = path;
    update_title();
    return true;
}

bool MainWindow::save_as()
{
    std::optional<std::string> name = choose_target(*dialogs, FileCommand::save_as);
    return name && save_to(*name);
}

void MainWindow::on_save()
{
    if (doc.path().empty())
        save_as();
    else
        save_to(doc.path());
}

void MainWindow::on_save_as()
{
    save_as();
}

void MainWindow::on_export()
{
    std::optional<std::string> name = choose_target(*dialogs, FileCommand::export_smf);
    std::string error;
    if (name && !write_smf(*name, doc.song(), error))
        show_save_failure(*dialogs, *name, error);
}

bool MainWindow::settle_changes()
{
    if (!doc.modified())
        return true;
    const Glib::ustring name = doc.path().empty() ? Glib::ustring(texts::untitled) : shown_name(doc.path());
    switch (dialogs->ask_save_changes(name + texts::save_changes_suffix)) {
    case SaveChoice::save:
        return doc.path().empty() ? save_as() : save_to(doc.path());
    case SaveChoice::discard:
        recovery.remove();
        return true;
    case SaveChoice::cancel:
        break;
    }
    return false;
}

void MainWindow::offer_recovery()
{
    const std::string original = recovery.original_path();
    const Glib::ustring name = original.empty() ? Glib::ustring(texts::untitled) : shown_name(original);
    if (!dialogs->ask_restore(texts::restore_prefix + name + texts::restore_suffix)) {
        recovery.remove();
        return;
    }
    std::ostringstream ignored;   // the file is the program's own
    if (doc.restore(recovery.path(), original, ignored)) {
        titled_path = original;
        update_title();
    }
}

}  // namespace stepmill
