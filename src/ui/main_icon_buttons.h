// The column of sprite buttons; button i asks for sprite i's editor.
#pragma once

#include "song.h"

#include <gtkmm/box.h>
#include <gtkmm/button.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace stepmill {

class MainIconButtons : public Gtk::Box {
public:
    MainIconButtons();

    // One button per sprite, shown, each with its sprite's colour.
    void rebuild(const std::vector<Sprite>& sprites);
    void set_color(uint64_t i, const std::array<uint8_t, 3>& color);
    sigc::signal<void, uint64_t>& signal_present() { return present; }

private:
    std::vector<std::unique_ptr<Gtk::Button>> buttons;
    sigc::signal<void, uint64_t> present;
};

}  // namespace stepmill
