// The window's actions and the menu bar's definition. The actions live in
// one group the windows insert as "stepmill", so that the accelerators work
// in the sprite editors too; a sprite's action is an application action.
#pragma once

#include <giomm/menumodel.h>
#include <giomm/simpleaction.h>
#include <giomm/simpleactiongroup.h>
#include <gtkmm/application.h>

#include <cstdint>

namespace stepmill {

class MainMenuBar {
public:
    explicit MainMenuBar(const Glib::RefPtr<Gtk::Application>& application);

    // "stepmill.<name>", with its accelerators on the application.
    void add_action(const Glib::ustring& name, const sigc::slot<void>& activate,
                    const std::vector<Glib::ustring>& accelerators = {});
    void set_enabled(const Glib::ustring& name, bool enabled);
    // One application action per sprite; names already there are replaced.
    void add_sprite_actions(uint64_t n, const sigc::slot<void, uint64_t>& present);

    const Glib::RefPtr<Gio::SimpleActionGroup>& group() const { return actions; }
    // The menu bar's model; null (after the message on standard error or in
    // the log) when the definition does not load.
    Glib::RefPtr<Gio::MenuModel> model();

private:
    Glib::RefPtr<Gtk::Application> application;
    Glib::RefPtr<Gio::SimpleActionGroup> actions;
};

// The menu bar's definition in the builder format.
extern const char* const menu_definition;

// The name of sprite i's application action: "_0", "10 _a", "36 _A", "62".
Glib::ustring sprite_action_name(uint64_t i);

}  // namespace stepmill
