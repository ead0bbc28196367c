#include "scripted_dialogs.h"

#include <functional>

namespace {

class ScriptedChooser : public stepmill::PathChooser {
public:
    ScriptedChooser(ScriptedFileDialogs& owner, std::string head) : owner(owner), head(std::move(head)) {}
    std::optional<std::string> ask() override
    {
        std::optional<std::string> answer = owner.asked(head + last, owner.paths, std::optional<std::string>());
        if (answer) last = *answer;
        return answer;
    }

private:
    ScriptedFileDialogs& owner;
    std::string head, last;
};

struct ScriptedMessage : stepmill::ShownMessage {
    explicit ScriptedMessage(std::function<void()> closed) : closed(std::move(closed)) {}
    ~ScriptedMessage() override { closed(); }
    std::function<void()> closed;
};

}  // namespace

std::unique_ptr<stepmill::PathChooser> ScriptedFileDialogs::chooser(stepmill::FileCommand command)
{
    return std::make_unique<ScriptedChooser>(*this, "chooser " + std::string(stepmill::chooser_look(command).title) +
                                                        " #" + std::to_string(++choosers_made) + " last=");
}

std::unique_ptr<stepmill::ShownMessage> ScriptedFileDialogs::show_error(const Glib::ustring& title,
                                                                        const Glib::ustring& text)
{
    log.push_back("error " + title + ": " + text);
    return std::make_unique<ScriptedMessage>([this, title] { log.push_back("error closed " + title); });
}
