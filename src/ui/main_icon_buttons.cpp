#include "main_icon_buttons.h"

#include "main_window.h"
#include "texts.h"

namespace stepmill {

MainIconButtons::MainIconButtons(MainWindow* window)
    : Gtk::Box(Gtk::ORIENTATION_VERTICAL, 0), window(window)
{
}

MainIconButtons::~MainIconButtons()
{
    clear();
}

// The new buttons are shown by the caller's show_all_children, with the rest
// of the window.
void MainIconButtons::rebuild(uint64_t n)
{
    clear();
    for (uint64_t i = 0; i < n; ++i) {
        auto button = new Gtk::Button(sprite_label(i), false);
        connections.push_back(button->signal_clicked().connect(
            sigc::bind(sigc::mem_fun(*window, &MainWindow::present_sprite_window), i)));
        buttons.push_back(button);
        pack_start(*button, Gtk::PACK_SHRINK, 0);
    }
}

void MainIconButtons::clear()
{
    for (sigc::connection& connection : connections)
        connection.disconnect();
    connections.clear();
    for (Gtk::Button* button : buttons) {
        remove(*button);
        delete button;
    }
    buttons.clear();
}

}  // namespace stepmill
