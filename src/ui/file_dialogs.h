// The file commands' dialogs behind a small interface of the window, so that
// the commands run with the real choosers and message boxes in the program
// and with scripted answers in tests.
#pragma once

#include <gtkmm/window.h>
#include <glibmm/ustring.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace stepmill {

enum class FileCommand { open, save_as, export_smf };

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

// Answers the dialogs from scripts and writes down what was asked, for tests.
// An unscripted chooser answers "cancelled", an unscripted question "no".
class ScriptedFileDialogs : public FileDialogs {
public:
    std::unique_ptr<PathChooser> chooser(FileCommand command) override;
    bool confirm(const Glib::ustring& title, const Glib::ustring& text) override;
    std::unique_ptr<ShownMessage> show_error(const Glib::ustring& title,
                                             const Glib::ustring& text) override;
    void show_error_text(const Glib::ustring& title, const Glib::ustring& text) override;

    std::deque<std::optional<std::string>> paths;   // the chooser's answers, in turn
    std::deque<bool> answers;                        // the questions' answers, in turn

    // One line per event: "chooser <title> #<n> last=<name>", "confirm <title>: <text>",
    // "error <title>: <text>", "error closed <title>", "error_text <title>: <text>".
    std::vector<std::string> log;

private:
    int choosers_made = 0;
};

}  // namespace stepmill
