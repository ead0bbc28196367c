#include "main_icon_buttons.h"

#include "texts.h"

#include <gtkmm/image.h>

namespace stepmill {

MainIconButtons::MainIconButtons() : Gtk::Box(Gtk::ORIENTATION_VERTICAL, 0) {}

void MainIconButtons::rebuild(const std::vector<Sprite>& sprites)
{
    for (auto& button : buttons)
        remove(*button);
    buttons.clear();
    for (uint64_t i = 0; i < sprites.size(); ++i) {
        auto button = std::make_unique<Gtk::Button>(sprite_label(i), false);
        button->signal_clicked().connect([this, i] { present.emit(i); });
        button->set_always_show_image(true);
        pack_start(*button, Gtk::PACK_SHRINK, 0);
        button->show();
        buttons.push_back(std::move(button));
        set_color(i, sprites[i].color);
    }
}

// A swatch of the colour beside the label; the label (and so the name
// assistive technology reads) stays the sprite's.
void MainIconButtons::set_color(uint64_t i, const std::array<uint8_t, 3>& color)
{
    if (i >= buttons.size())
        return;
    auto swatch = Gdk::Pixbuf::create(Gdk::COLORSPACE_RGB, false, 8, 12, 12);
    swatch->fill(uint32_t(color[0]) << 24 | uint32_t(color[1]) << 16 | uint32_t(color[2]) << 8 | 0xFF);
    buttons[i]->set_image(*Gtk::manage(new Gtk::Image(swatch)));
}

}  // namespace stepmill
