#include "file_dialogs.h"

#include "error_dialog.h"
#include "texts.h"

#include <gtkmm/filechooserdialog.h>
#include <gtkmm/messagedialog.h>

namespace stepmill {

const ChooserLook& chooser_look(FileCommand command)
{
    static const ChooserLook open{"開く", false, "trmファイル", "*.trm"};
    static const ChooserLook save_as{"保存", true, "trmファイル", "*.trm"};
    static const ChooserLook export_smf{"SMF保存", true, "midファイル", "*.mid"};
    switch (command) {
    case FileCommand::open: return open;
    case FileCommand::save_as: return save_as;
    case FileCommand::export_smf: break;
    }
    return export_smf;
}

namespace {

// Lives for one command, so that a second ask shows the last choice.
class GtkPathChooser : public PathChooser {
public:
    explicit GtkPathChooser(const ChooserLook& look)
        : dialog(look.title, look.save ? Gtk::FILE_CHOOSER_ACTION_SAVE : Gtk::FILE_CHOOSER_ACTION_OPEN)
    {
        auto filter = Gtk::FileFilter::create();
        filter->set_name(look.filter_name);
        filter->add_pattern(look.filter_pattern);
        dialog.add_filter(filter);
        // The same two buttons for every command, the accepting one first.
        dialog.add_button("_Open", Gtk::RESPONSE_OK);
        dialog.add_button("_Cancel", Gtk::RESPONSE_CANCEL);
        // The command asks about existing files itself and uses the name as typed.
        dialog.set_do_overwrite_confirmation(false);
    }

    std::optional<std::string> ask() override
    {
        if (dialog.run() != Gtk::RESPONSE_OK)
            return std::nullopt;
        std::string name = dialog.get_filename();
        if (name.empty())
            return std::nullopt;
        return name;
    }

private:
    Gtk::FileChooserDialog dialog;
};

class GtkShownMessage : public ShownMessage {
public:
    explicit GtkShownMessage(std::unique_ptr<Gtk::MessageDialog> box) : box(std::move(box)) {}

private:
    std::unique_ptr<Gtk::MessageDialog> box;
};

class GtkFileDialogs : public FileDialogs {
public:
    explicit GtkFileDialogs(Gtk::Window& parent) : parent(parent) {}

    std::unique_ptr<PathChooser> chooser(FileCommand command) override
    {
        return std::make_unique<GtkPathChooser>(chooser_look(command));
    }

    bool confirm(const Glib::ustring& title, const Glib::ustring& text) override
    {
        Gtk::MessageDialog box(parent, text, false, Gtk::MESSAGE_QUESTION, Gtk::BUTTONS_OK);
        box.set_title(title);
        box.add_button("_Cancel", Gtk::RESPONSE_CANCEL);
        return box.run() == Gtk::RESPONSE_OK;
    }

    std::unique_ptr<ShownMessage> show_error(const Glib::ustring& title,
                                             const Glib::ustring& text) override
    {
        auto box = std::make_unique<Gtk::MessageDialog>(parent, text, false, Gtk::MESSAGE_ERROR,
                                                        Gtk::BUTTONS_OK);
        box->set_title(title);
        box->run();
        return std::make_unique<GtkShownMessage>(std::move(box));
    }

    void show_error_text(const Glib::ustring& title, const Glib::ustring& text) override
    {
        ErrorDialog dialog(text, title, parent);
        dialog.run();
    }

    SaveChoice ask_save_changes(const Glib::ustring& text) override
    {
        Gtk::MessageDialog box(parent, text, false, Gtk::MESSAGE_WARNING, Gtk::BUTTONS_NONE, true);
        box.set_title(texts::save_changes_title);
        box.add_button(texts::discard_button, Gtk::RESPONSE_REJECT);
        box.add_button(texts::cancel_button, Gtk::RESPONSE_CANCEL);
        box.add_button(texts::save_button, Gtk::RESPONSE_ACCEPT);
        box.set_default_response(Gtk::RESPONSE_ACCEPT);
        // Escape and the window manager's close answer as Cancel does.
        switch (box.run()) {
        case Gtk::RESPONSE_ACCEPT: return SaveChoice::save;
        case Gtk::RESPONSE_REJECT: return SaveChoice::discard;
        default: return SaveChoice::cancel;
        }
    }

    bool ask_restore(const Glib::ustring& text) override
    {
        Gtk::MessageDialog box(parent, text, false, Gtk::MESSAGE_QUESTION, Gtk::BUTTONS_NONE, true);
        box.set_title(texts::restore_title);
        box.add_button(texts::discard_recovery_button, Gtk::RESPONSE_REJECT);
        box.add_button(texts::restore_button, Gtk::RESPONSE_ACCEPT);
        box.set_default_response(Gtk::RESPONSE_ACCEPT);
        return box.run() == Gtk::RESPONSE_ACCEPT;
    }

private:
    Gtk::Window& parent;
};

}  // namespace

std::unique_ptr<FileDialogs> make_gtk_file_dialogs(Gtk::Window& parent)
{
    return std::make_unique<GtkFileDialogs>(parent);
}

}  // namespace stepmill
