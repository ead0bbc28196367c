// The main window itself: construction and layout, the tempo and play/stop
// controls, closing, and the application's option handlers.
#include "main_window.h"

#include "document.h"
#include "file_dialogs.h"
#include "program.h"
#include "sequence_widget.h"
#include "texts.h"

#include <giomm/menumodel.h>
#include <glibmm/error.h>
#include <gtkmm/menubar.h>

#include <cstdlib>
#include <iostream>

namespace stepmill {

MainWindow::MainWindow(int argc, char** argv, Glib::RefPtr<Gtk::Application>& application)
    : Gtk::Window(Gtk::WINDOW_TOPLEVEL),
      main_box(Gtk::ORIENTATION_VERTICAL, 0),
      body_box(Gtk::ORIENTATION_HORIZONTAL, 0),
      strip_box(Gtk::ORIENTATION_HORIZONTAL, 0),
      menu_bar(application, *this),
      icon_buttons(this),
      bpm_label(texts::bpm_label, false),
      bpm_spin(0.0, 0),
      play_button(texts::play_stop, false),
      control_box(Gtk::ORIENTATION_HORIZONTAL, 0)
{
    // The song is loaded as Document::open loads one, so that start-up and
    // File → Open agree (a file's tempo clamped into the control's range).
    if (argc < 3) {
        song.reset_sprites(new_song_sprites);
    } else if (!load_song(song, argv[2], std::cerr)) {
        std::cerr << argv[2] << texts::file_read_failed << std::endl;
        std::exit(1);
    }
    set_title(program_title);
    dialogs = make_gtk_file_dialogs(*this);

    builder = Gtk::Builder::create();
    menu_bar.create_actions();
    menu_bar.add_sprite_actions(song.sprites.size());
    icon_buttons.rebuild(song.sprites.size());
    application->set_accel_for_action("stepmill.Open", "<Primary>o");
    application->set_accel_for_action("stepmill.eXit", "<Primary>q");

    // The toolkit reports a bad definition by throwing; the program itself
    // throws nothing, so it ends here with a message instead.
    try {
        builder->add_from_string(menu_definition);
    } catch (const Glib::Error& error) {
        std::cerr << texts::menu_failed << error.what() << std::endl;
        std::exit(1);
    }
    auto model = Glib::RefPtr<Gio::MenuModel>::cast_dynamic(builder->get_object("menubar"));
    if (!model) {
        g_warning("%s", texts::gmenu_not_found);
        std::exit(1);
    }
    main_box.pack_start(*Gtk::manage(new Gtk::MenuBar(model)), Gtk::PACK_SHRINK, 0);
    device_bar.set_message_type(Gtk::MESSAGE_ERROR);
    device_bar.set_show_close_button(true);
    device_message.set_line_wrap(true);
    device_message.set_xalign(0.0f);
    dynamic_cast<Gtk::Container*>(device_bar.get_content_area())->add(device_message);
    device_bar.signal_response().connect([this](int) { device_bar.hide(); });
    device_bar.set_no_show_all(true);
    device_message.show();
    main_box.pack_start(device_bar, Gtk::PACK_SHRINK, 0);

    build_song_views();

    // What the window adds to a box takes the room that is left, as a box's
    // add did in the toolkit's older boxes.
    body_box.pack_start(icon_buttons, Gtk::PACK_SHRINK, 0);
    body_box.pack_start(strip_box, Gtk::PACK_EXPAND_WIDGET, 0);
    scroller.add(body_box);
    scroller.set_policy(Gtk::POLICY_ALWAYS, Gtk::POLICY_AUTOMATIC);
    scroller.set_placement(Gtk::CORNER_TOP_LEFT);
    main_box.pack_start(scroller, Gtk::PACK_EXPAND_WIDGET, 0);

    bpm_spin.set_wrap(false);
    bpm_spin.set_range(1.0, 1000.0);
    bpm_spin.set_increments(1.0, 10.0);
    bpm_spin.set_digits(0);
    bpm_spin.set_value(static_cast<double>(song.bpm));
    // Connected only now, so that the initial value reaches no handler.
    bpm_spin.signal_value_changed().connect(sigc::mem_fun(*this, &MainWindow::on_bpm_changed));

    control_box.pack_start(bpm_label, Gtk::PACK_SHRINK, 0);
    control_box.pack_start(bpm_spin, Gtk::PACK_SHRINK, 0);
    control_box.pack_end(play_button, Gtk::PACK_SHRINK, 0);
    main_box.pack_end(control_box, Gtk::PACK_SHRINK, 0);

    play_button.signal_clicked().connect(sigc::mem_fun(*this, &MainWindow::on_play_stop_clicked));
    player.position_changed.connect(sigc::mem_fun(*this, &MainWindow::on_player_position));
    player.device_failed.connect(sigc::mem_fun(*this, &MainWindow::on_device_failed));

    add(main_box);
    set_size_request(640, 768);
    show_all_children(true);
}

MainWindow::~MainWindow()
{
    // Closing the window has stopped it already; the display is told once.
    if (player.is_playing())
        player.stop();
    clear_song_views();
    if (separate) {
        if (separate->get_parent())
            strip_box.remove(*separate);
        delete separate;
        separate = nullptr;
    }
}

void MainWindow::on_realize()
{
    Gtk::Window::on_realize();
}

void MainWindow::on_unrealize()
{
    Gtk::Window::on_unrealize();
}

bool MainWindow::on_configure_event(GdkEventConfigure* event)
{
    return Gtk::Window::on_configure_event(event);
}

bool MainWindow::on_delete_event(GdkEventAny* event)
{
    bool result = Gtk::Window::on_delete_event(event);
    player.stop();
    return result;
}

int MainWindow::on_handle_local_options(const Glib::RefPtr<Glib::VariantDict>& options)
{
    bool version = false;
    if (options->lookup_value(texts::version_name, version) && version) {
        std::cout << program_title << std::endl;
        std::exit(0);
    }
    return 0;
}

int MainWindow::on_cmdline(const Glib::RefPtr<Gio::ApplicationCommandLine>& command_line)
{
    std::cout << "MainWindow::on_cmdline()" << std::endl;
    Glib::RefPtr<Glib::VariantDict> options = command_line->get_options_dict();
    bool version = false;
    if (options->lookup_value(texts::version_name, version)) {
        std::cout << "version: " << (version ? 1 : 0) << std::endl;
        if (version) {
            std::cout << program_title << std::endl;
            std::exit(0);
        }
    }
    return 0;
}

// The spin button's range keeps the tempo within 1 to 1000.
void MainWindow::on_bpm_changed()
{
    auto bpm = static_cast<uint64_t>(bpm_spin.get_value());
    player.set_tempo(bpm);
    song.bpm = bpm;
}

void MainWindow::on_play_stop_clicked()
{
    // An empty sequence is never started.
    if (player.is_playing() || song.sequence.empty()) {
        player.stop();
    } else {
        device_bar.hide();
        player.start_sequence(song);
    }
}

void MainWindow::on_device_failed(const std::string& reason)
{
    device_message.set_text(texts::device_failed + Glib::ustring(reason));
    device_bar.show();
}

void MainWindow::on_exit()
{
    std::exit(0);
}

}  // namespace stepmill
