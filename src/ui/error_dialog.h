// A small modal dialog that shows a block of text, such as a reader's
// diagnostics, with one OK button.
#pragma once

#include <gtkmm/dialog.h>
#include <gtkmm/textview.h>
#include <gtkmm/window.h>

namespace stepmill {

class ErrorDialog : public Gtk::Dialog {
public:
    ErrorDialog(const Glib::ustring& text, const Glib::ustring& title, Gtk::Window& parent);
    ~ErrorDialog() override;

    Gtk::TextView text_view;
};

}  // namespace stepmill
