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
    std::unique_ptr<stepmill::ShownMessage> show_error(const Glib::ustring& title, const Glib::ustring& text) override;
    bool confirm(const Glib::ustring& title, const Glib::ustring& text) override
    {
        return asked("confirm " + title + ": " + text, answers, false);
    }
    void show_error_text(const Glib::ustring& title, const Glib::ustring& text) override
    {
        log.push_back("error_text " + title + ": " + text);
    }
    stepmill::SaveChoice ask_save_changes(const Glib::ustring& text) override
    {
        return asked("save? " + text, save_choices, stepmill::SaveChoice::cancel);
    }
    bool ask_restore(const Glib::ustring& text) override { return asked("restore? " + text, answers, false); }

    std::deque<std::optional<std::string>> paths;    // the chooser's answers, in turn
    std::deque<bool> answers;                         // the questions' answers (confirm, restore), in turn
    std::deque<stepmill::SaveChoice> save_choices;    // the save questions' answers, in turn

    // One line per event: "chooser <title> #<n> last=<name>", "confirm <title>: <text>",
    // "error <title>: <text>", "error closed <title>", "error_text <title>: <text>",
    // "save? <text>", "restore? <text>".
    std::vector<std::string> log;

    // Writes down the question; the next scripted answer, or `otherwise`.
    template <class T>
    T asked(const std::string& line, std::deque<T>& script, T otherwise)
    {
        log.push_back(line);
        if (script.empty()) return otherwise;
        T answer = script.front();
        script.pop_front();
        return answer;
    }

private:
    int choosers_made = 0;
};
