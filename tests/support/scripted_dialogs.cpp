#include "scripted_dialogs.h"

namespace {

class ScriptedChooser : public stepmill::PathChooser {
public:
    ScriptedChooser(ScriptedFileDialogs& owner, const char* title, int number)
        : owner(owner), title(title), number(number) {}

    std::optional<std::string> ask() override
    {
        owner.log.push_back("chooser " + title + " #" + std::to_string(number) + " last=" + last);
        std::optional<std::string> answer;
        if (!owner.paths.empty()) {
            answer = owner.paths.front();
            owner.paths.pop_front();
        }
        if (answer)
            last = *answer;
        return answer;
    }

private:
    ScriptedFileDialogs& owner;
    std::string title;
    int number;
    std::string last;
};

class ScriptedMessage : public stepmill::ShownMessage {
public:
    ScriptedMessage(std::vector<std::string>& log, std::string title) : log(log), title(std::move(title)) {}
    ~ScriptedMessage() override { log.push_back("error closed " + title); }

private:
    std::vector<std::string>& log;
    std::string title;
};

}  // namespace

std::unique_ptr<stepmill::PathChooser> ScriptedFileDialogs::chooser(stepmill::FileCommand command)
{
    return std::make_unique<ScriptedChooser>(*this, stepmill::chooser_look(command).title, ++choosers_made);
}

bool ScriptedFileDialogs::next_answer()
{
    if (answers.empty())
        return false;
    bool answer = answers.front();
    answers.pop_front();
    return answer;
}

bool ScriptedFileDialogs::confirm(const Glib::ustring& title, const Glib::ustring& text)
{
    log.push_back("confirm " + title + ": " + text);
    return next_answer();
}

std::unique_ptr<stepmill::ShownMessage> ScriptedFileDialogs::show_error(const Glib::ustring& title,
                                                                        const Glib::ustring& text)
{
    log.push_back("error " + title + ": " + text);
    return std::make_unique<ScriptedMessage>(log, title);
}

void ScriptedFileDialogs::show_error_text(const Glib::ustring& title, const Glib::ustring& text)
{
    log.push_back("error_text " + title + ": " + text);
}

stepmill::SaveChoice ScriptedFileDialogs::ask_save_changes(const Glib::ustring& text)
{
    log.push_back("save? " + text);
    if (save_choices.empty())
        return stepmill::SaveChoice::cancel;
    stepmill::SaveChoice choice = save_choices.front();
    save_choices.pop_front();
    return choice;
}

bool ScriptedFileDialogs::ask_restore(const Glib::ustring& text)
{
    log.push_back("restore? " + text);
    return next_answer();
}
