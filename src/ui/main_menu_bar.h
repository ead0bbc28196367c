#pragma once

#include <giomm/simpleactiongroup.h>
#include <gtkmm/application.h>
#include <gtkmm/menubar.h>

#include <cstdint>

namespace stepmill {

class MainWindow;

// Owns the window's File actions and registers one application action per
// sprite. Never placed in the layout: the visible menu bar is built from the
// menu definition.
class MainMenuBar : public Gtk::MenuBar {
public:
    MainMenuBar(const Glib::RefPtr<Gtk::Application>& application, MainWindow& window);
    ~MainMenuBar() override;

    void create_actions();
    void add_sprite_actions(uint64_t n);

    Glib::RefPtr<Gtk::Application> application;
    Glib::RefPtr<Gio::SimpleActionGroup> action_group;
    MainWindow* window;
};

// The menu bar's definition in the builder format.
extern const char* const menu_definition;

// The name of sprite i's application action: "_0", "10 _a", "36 _A", "62".
Glib::ustring sprite_action_name(uint64_t i);

}  // namespace stepmill
