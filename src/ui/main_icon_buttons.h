#pragma once

#include <gtkmm/box.h>
#include <gtkmm/button.h>

#include <cstdint>
#include <list>

namespace stepmill {

class MainWindow;

// The column of sprite buttons; button i presents sprite i's editor.
class MainIconButtons : public Gtk::Box {
public:
    explicit MainIconButtons(MainWindow* window);
    ~MainIconButtons() override;

    void rebuild(uint64_t n);
    void clear();

    std::list<Gtk::Button*> buttons;
    std::list<sigc::connection> connections;
    MainWindow* window;
};

}  // namespace stepmill
