#include "main_menu_bar.h"

#include "main_window.h"
#include "texts.h"

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

MainMenuBar::MainMenuBar(const Glib::RefPtr<Gtk::Application>& application, MainWindow& window)
    : application(application), window(&window)
{
}

MainMenuBar::~MainMenuBar() = default;

void MainMenuBar::create_actions()
{
    action_group = Gio::SimpleActionGroup::create();
    action_group->add_action("Open", sigc::mem_fun(*window, &MainWindow::on_open));
    action_group->add_action("saveAs", sigc::mem_fun(*window, &MainWindow::on_save_as));
    action_group->add_action("Export", sigc::mem_fun(*window, &MainWindow::on_export));
    action_group->add_action("eXit", sigc::mem_fun(*window, &MainWindow::on_exit));
    window->insert_action_group("stepmill", action_group);
}

// Names already registered are replaced; those of indices at or above a new,
// smaller count stay, and present_sprite_window ignores them.
void MainMenuBar::add_sprite_actions(uint64_t n)
{
    for (uint64_t i = 0; i < n; ++i)
        application->add_action(sprite_action_name(i),
                                sigc::bind(sigc::mem_fun(*window, &MainWindow::present_sprite_window), i));
}

}  // namespace stepmill
