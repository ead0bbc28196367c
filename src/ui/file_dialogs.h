// The window's dialogs behind a small interface, so that the commands run
// with the real choosers and message boxes in the program and with scripted
// answers in tests.
#pragma once

#include <gtkmm/window.h>
#include <glibmm/ustring.h>

#include <memory>
#include <optional>
#include <string>

namespace stepmill {

enum class FileCommand { open, save_as, export_smf };

// What to do with unsaved changes.
enum class SaveChoice { save, discard, cancel };

// One command's file chooser. Asked again within the same command it still
// shows the last choice.
class PathChooser {
public:
    virtual ~PathChooser() = default;
    // The chosen file name, or nothing when the user cancelled or closed it.
    virtual std::optional<std::string> ask() = 0;
};

// A message box that has been answered and stays on the screen while held.
class ShownMessage {
public:
    virtual ~ShownMessage() = default;
};

class FileDialogs {
public:
    virtual ~FileDialogs() = default;

    virtual std::unique_ptr<PathChooser> chooser(FileCommand command) = 0;
    // A question with OK and Cancel: true only for OK.
    virtual bool confirm(const Glib::ustring& title, const Glib::ustring& text) = 0;
    // An error box, run until answered.
    virtual std::unique_ptr<ShownMessage> show_error(const Glib::ustring& title,
                                                     const Glib::ustring& text) = 0;
    // The ErrorDialog with a block of text, run until answered.
    virtual void show_error_text(const Glib::ustring& title, const Glib::ustring& text) = 0;
    // The song has unsaved changes: save, discard, or cancel (Escape, or the
    // box closed).
    virtual SaveChoice ask_save_changes(const Glib::ustring& text) = 0;
    // Changes of a session that ended unsaved were kept: restore them (true)
    // or discard them.
    virtual bool ask_restore(const Glib::ustring& text) = 0;
};

// The real dialogs; message boxes and the ErrorDialog belong to `parent`.
std::unique_ptr<FileDialogs> make_gtk_file_dialogs(Gtk::Window& parent);

// What the real choosers show for each command.
struct ChooserLook {
    const char* title;
    bool save;                 // a save chooser rather than an open one
    const char* filter_name;
    const char* filter_pattern;
};
const ChooserLook& chooser_look(FileCommand command);

}  // namespace stepmill
