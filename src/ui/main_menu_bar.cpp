#include "main_menu_bar.h"

#include "texts.h"

#include <gtkmm/builder.h>

#include <iostream>
#include <sstream>

namespace stepmill {

// Only the visible menu bar is built from this; the accelerators themselves
// are registered on the application, the 'accel' attributes just show them.
const char* const menu_definition =
    "<interface>"
    "  <menu id='menubar'>"
    "    <submenu>"
    "      <attribute name='label' translatable='yes'>_File</attribute>"
    "      <section>"
    "        <item>"
    "          <attribute name='label' translatable='yes'>_Open</attribute>"
    "          <attribute name='action'>stepmill.Open</attribute>"
    "          <attribute name='accel'>&lt;Primary&gt;o</attribute>"
    "        </item>"
    "        <item>"
    "          <attribute name='label' translatable='yes'>_Save</attribute>"
    "          <attribute name='action'>stepmill.Save</attribute>"
    "          <attribute name='accel'>&lt;Primary&gt;s</attribute>"
    "        </item>"
    "        <item>"
    "          <attribute name='label' translatable='yes'>save_As</attribute>"
    "          <attribute name='action'>stepmill.saveAs</attribute>"
    "        </item>"
    "        <item>"
    "          <attribute name='label' translatable='yes'>_Export to SMF</attribute>"
    "          <attribute name='action'>stepmill.Export</attribute>"
    "        </item>"
    "      </section>"
    "      <section>"
    "        <item>"
    "          <attribute name='label' translatable='yes'>e_Xit</attribute>"
    "          <attribute name='action'>stepmill.eXit</attribute>"
    "          <attribute name='accel'>&lt;Primary&gt;q</attribute>"
    "        </item>"
    "      </section>"
    "    </submenu>"
    "    <submenu>"
    "      <attribute name='label' translatable='yes'>_Edit</attribute>"
    "      <section>"
    "        <item>"
    "          <attribute name='label' translatable='yes'>_Undo</attribute>"
    "          <attribute name='action'>stepmill.Undo</attribute>"
    "          <attribute name='accel'>&lt;Primary&gt;z</attribute>"
    "        </item>"
    "        <item>"
    "          <attribute name='label' translatable='yes'>_Redo</attribute>"
    "          <attribute name='action'>stepmill.Redo</attribute>"
    "          <attribute name='accel'>&lt;Primary&gt;&lt;Shift&gt;z</attribute>"
    "        </item>"
    "      </section>"
    "    </submenu>"
    "  </menu>"
    "</interface>";

Glib::ustring sprite_action_name(uint64_t i)
{
    std::ostringstream name;
    if (i < 10)
        name << '_' << i;
    else if (i < 62)
        name << i << " _" << sprite_label(i);
    else
        name << i;
    return name.str();
}

MainMenuBar::MainMenuBar(const Glib::RefPtr<Gtk::Application>& application)
    : application(application), actions(Gio::SimpleActionGroup::create())
{
}

void MainMenuBar::add_action(const Glib::ustring& name, const sigc::slot<void>& activate,
                             const std::vector<Glib::ustring>& accelerators)
{
    actions->add_action(name, activate);
    if (!accelerators.empty())
        application->set_accels_for_action("stepmill." + name, accelerators);
}

void MainMenuBar::set_enabled(const Glib::ustring& name, bool enabled)
{
    auto action = Glib::RefPtr<Gio::SimpleAction>::cast_dynamic(actions->lookup_action(name));
    if (action)
        action->set_enabled(enabled);
}

// Names of indices at or above a new, smaller count stay, and the window
// ignores them.
void MainMenuBar::add_sprite_actions(uint64_t n, const sigc::slot<void, uint64_t>& present)
{
    for (uint64_t i = 0; i < n; ++i)
        application->add_action(sprite_action_name(i), sigc::bind(present, i));
}

Glib::RefPtr<Gio::MenuModel> MainMenuBar::model()
{
    auto builder = Gtk::Builder::create();
    // The toolkit reports a bad definition by throwing; the program itself
    // throws nothing, so the caller ends it with a message instead.
    try {
        builder->add_from_string(menu_definition);
    } catch (const Glib::Error& error) {
        std::cerr << texts::menu_failed << error.what() << std::endl;
        return {};
    }
    auto model = Glib::RefPtr<Gio::MenuModel>::cast_dynamic(builder->get_object("menubar"));
    if (!model)
        g_warning("%s", texts::gmenu_not_found);
    return model;
}

}  // namespace stepmill
