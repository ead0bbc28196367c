#include "scripted_dialogs.h"

namespace {

template <class T>
T next(std::deque<T>& answers, T otherwise)
{
    if (answers.empty()) return otherwise;
    T answer = answers.front();
    answers.pop_front();
    return answer;
}

class ScriptedChooser : public stepmill::PathChooser {
public:
    ScriptedChooser(ScriptedFileDialogs& owner, std::string head) : owner(owner), head(std::move(head)) {}
    std::optional<std::string> ask() override
    {
        owner.log.push_back(head + last);
        std::optional<std::string> answer = next(owner.paths, std::optional<std::string>());
        if (answer) last = *answer;
        return answer;
    }

private:
    ScriptedFileDialogs& owner;
    std::string head, last;
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
    return std::make_unique<ScriptedChooser>(*this, "chooser " + std::string(stepmill::chooser_look(command).title) +
                                                        " #" + std::to_string(++choosers_made) + " last=");
}

bool ScriptedFileDialogs::confirm(const Glib::ustring& title, const Glib::ustring& text)
{
    log.push_back("confirm " + title + ": " + text);
    return next(answers, false);
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
    return next(save_choices, stepmill::SaveChoice::cancel);
}

bool ScriptedFileDialogs::ask_restore(const Glib::ustring& text)
{
    log.push_back("restore? " + text);
    return next(answers, false);
}
