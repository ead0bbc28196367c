// Answers the window's dialogs from scripts and writes down what was asked.
// An unscripted chooser answers "cancelled", an unscripted question "no", an
// unscripted save question "cancel".
#pragma once

#include "file_dialogs.h"

#include <deque>
#include <string>
#include <vector>

class ScriptedFileDialogs : public stepmill::FileDialogs {
public:
    std::unique_ptr<stepmill::PathChooser> chooser(stepmill::FileCommand command) override;
    bool confirm(const Glib::ustring& title, const Glib::ustring& text) override;
    std::unique_ptr<stepmill::ShownMessage> show_error(const Glib::ustring& title, const Glib::ustring& text) override;
    void show_error_text(const Glib::ustring& title, const Glib::ustring& text) override;
    stepmill::SaveChoice ask_save_changes(const Glib::ustring& text) override;
    bool ask_restore(const Glib::ustring& text) override;

    std::deque<std::optional<std::string>> paths;    // the chooser's answers, in turn
    std::deque<bool> answers;                         // the questions' answers (confirm, restore), in turn
    std::deque<stepmill::SaveChoice> save_choices;    // the save questions' answers, in turn

    // One line per event: "chooser <title> #<n> last=<name>", "confirm <title>: <text>",
    // "error <title>: <text>", "error closed <title>", "error_text <title>: <text>",
    // "save? <text>", "restore? <text>".
    std::vector<std::string> log;

private:
    int choosers_made = 0;
};
