#include "main_icon_buttons.h"

#include "texts.h"

namespace stepmill {

MainIconButtons::MainIconButtons() : Gtk::Box(Gtk::ORIENTATION_VERTICAL, 0) {}

void MainIconButtons::rebuild(uint64_t n)
{
    for (auto& button : buttons)
        remove(*button);
    buttons.clear();
    for (uint64_t i = 0; i < n; ++i) {
        auto button = std::make_unique<Gtk::Button>(sprite_label(i), false);
        button->signal_clicked().connect([this, i] { present.emit(i); });
        pack_start(*button, Gtk::PACK_SHRINK, 0);
        button->show();
        buttons.push_back(std::move(button));
    }
}

}  // namespace stepmill
