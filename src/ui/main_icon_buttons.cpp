#include "main_icon_buttons.h"

#include "texts.h"

#include <gtkmm/image.h>

namespace stepmill {

MainIconButtons::MainIconButtons() : Gtk::Box(Gtk::ORIENTATION_VERTICAL, 0) {}

namespace {

// A swatch of the colour, shown beside the label; the label (and so the name
// assistive technology reads) stays the sprite's.
Gtk::Image* swatch(const std::array<uint8_t, 3>& color)
{
    auto pixels = Gdk::Pixbuf::create(Gdk::COLORSPACE_RGB, false, 8, 12, 12);
    pixels->fill(uint32_t(color[0]) << 24 | uint32_t(color[1]) << 16 | uint32_t(color[2]) << 8 | 0xFF);
    return Gtk::manage(new Gtk::Image(pixels));
}

}  // namespace

void MainIconButtons::rebuild(const std::vector<Sprite>& sprites)
{
    for (auto& button : buttons)
        remove(*button);
    buttons.clear();
    for (uint64_t i = 0; i < sprites.size(); ++i) {
        auto button = std::make_unique<Gtk::Button>(sprite_label(i), false);
        button->signal_clicked().connect([this, i] { present.emit(i); });
        button->set_always_show_image(true);
        // The swatch goes in before the button joins the window: a button in
        // the window lays out and styles its content again on every change.
        button->set_image(*swatch(sprites[i].color));
        pack_start(*button, Gtk::PACK_SHRINK, 0);
        button->show();
        buttons.push_back(std::move(button));
    }
}

void MainIconButtons::set_color(uint64_t i, const std::array<uint8_t, 3>& color)
{
    if (i < buttons.size())
        buttons[i]->set_image(*swatch(color));
}

}  // namespace stepmill
