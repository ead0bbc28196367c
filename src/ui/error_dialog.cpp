#include "error_dialog.h"

namespace stepmill {

ErrorDialog::ErrorDialog(const Glib::ustring& text, const Glib::ustring& title, Gtk::Window& parent)
    : Gtk::Dialog(title, parent, true)
{
    text_view.get_buffer()->set_text(text);
    get_content_area()->add(text_view);
    // Room for a few lines even when the text is empty.
    set_size_request(320, 240);
    add_button("_OK", Gtk::RESPONSE_OK);
    show_all_children(true);
}

ErrorDialog::~ErrorDialog() = default;

}  // namespace stepmill
