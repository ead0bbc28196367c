// The main window itself: construction and layout, the document's changes,
// the tempo and play/stop controls, the strip's keys, closing, and the
// application's option handlers.
#include "main_window.h"

#include "program.h"
#include "sprite_window.h"
#include "texts.h"

#include <glibmm/convert.h>
#include <glibmm/main.h>
#include <gtkmm/menubar.h>

#include <cstdlib>
#include <iostream>

namespace stepmill {

namespace {

constexpr unsigned autosave_seconds = 30;
constexpr gint64 drag_us = 700000;

}  // namespace

void prepare_toolkit()
{
    // Every window draws with Cairo alone. Left on, OpenGL makes the toolkit
    // load the display's GL driver as it opens the display: start-up time and
    // memory for nothing. A GDK_GL the user set stays.
    g_setenv("GDK_GL", "disable", FALSE);
}

MainWindow::MainWindow(int argc, char** argv, const Glib::RefPtr<Gtk::Application>& application)
    : Gtk::Window(Gtk::WINDOW_TOPLEVEL),
      application(application),
      menus(application),
      main_box(Gtk::ORIENTATION_VERTICAL, 0),
      body_box(Gtk::ORIENTATION_HORIZONTAL, 0),
      strip(icon_buttons),
      options_box(Gtk::ORIENTATION_HORIZONTAL, 0),
      clock_check(texts::clock_label),
      follow_check(texts::follow_label),
      master_check(texts::master_label),
      control_box(Gtk::ORIENTATION_HORIZONTAL, 0),
      bpm_label(texts::bpm_label, false),
      bpm_spin(0.0, 0),
      swing_label(texts::swing_label, false),
      swing_spin(0.0, 0),
      channel_label(texts::channel_label, false),
      channel_spin(0.0, 0),
      play_button(texts::play_stop, false)
{
    // Start-up reads the file as Open does; only the title stays the program's.
    if (argc >= 3 && !doc.open(argv[2], std::cerr)) {
        std::cerr << argv[2] << texts::file_read_failed << std::endl;
        std::exit(1);
    }
    dialogs = make_gtk_file_dialogs(*this);

    menus.add_action("Open", sigc::mem_fun(*this, &MainWindow::on_open), {"<Primary>o"});
    menus.add_action("Save", sigc::mem_fun(*this, &MainWindow::on_save), {"<Primary>s"});
    menus.add_action("saveAs", sigc::mem_fun(*this, &MainWindow::on_save_as));
    menus.add_action("Export", sigc::mem_fun(*this, &MainWindow::on_export));
    menus.add_action("eXit", sigc::mem_fun(*this, &MainWindow::on_exit), {"<Primary>q"});
    menus.add_action("Undo", sigc::mem_fun(*this, &MainWindow::on_undo), {"<Primary>z"});
    menus.add_action("Redo", sigc::mem_fun(*this, &MainWindow::on_redo), {"<Primary><Shift>z", "<Primary>y"});
    insert_action_group("stepmill", menus.group());
    Glib::RefPtr<Gio::MenuModel> model = menus.model();
    if (!model)
        std::exit(1);
    main_box.pack_start(*Gtk::manage(new Gtk::MenuBar(model)), Gtk::PACK_SHRINK, 0);

    device_bar.set_message_type(Gtk::MESSAGE_ERROR);
    device_bar.set_show_close_button(true);
    device_message.set_line_wrap(true);
    device_message.set_xalign(0.0f);
    if (auto* area = dynamic_cast<Gtk::Container*>(device_bar.get_content_area()))
        area->add(device_message);
    device_bar.signal_response().connect([this](int) { device_bar.hide(); });
    device_bar.set_no_show_all(true);
    device_message.show();
    main_box.pack_start(device_bar, Gtk::PACK_SHRINK, 0);

    icon_buttons.signal_present().connect(sigc::mem_fun(*this, &MainWindow::present_sprite_window));
    strip.signal_insert().connect([this](uint64_t at, uint32_t sprite) { doc.insert_entry(at, sprite); });
    strip.signal_erase().connect([this](uint64_t at) { doc.erase_entry(at); });
    strip.signal_left().connect([this] { icon_buttons.grab_focus(); });
    // What the window adds to a box takes the room that is left, as a box's
    // add did in the toolkit's older boxes.
    body_box.pack_start(icon_buttons, Gtk::PACK_SHRINK, 0);
    body_box.pack_start(strip, Gtk::PACK_EXPAND_WIDGET, 0);
    scroller.add(body_box);
    scroller.set_policy(Gtk::POLICY_ALWAYS, Gtk::POLICY_AUTOMATIC);
    scroller.set_placement(Gtk::CORNER_TOP_LEFT);
    strip.follow_scroll(scroller.get_hadjustment());
    main_box.pack_start(scroller, Gtk::PACK_EXPAND_WIDGET, 0);

    for (auto [spin, low, high] : {std::tuple<Gtk::SpinButton*, uint64_t, uint64_t>{&bpm_spin, min_bpm, max_bpm},
                                   {&swing_spin, min_swing, max_swing},
                                   {&channel_spin, min_channel, max_channel}}) {
        spin->set_wrap(false);
        spin->set_range(double(low), double(high));
        spin->set_increments(1.0, 10.0);
        spin->set_digits(0);
    }
    bpm_connection = bpm_spin.signal_value_changed().connect(sigc::mem_fun(*this, &MainWindow::on_bpm_changed));
    swing_connection = swing_spin.signal_value_changed().connect([this] {
        doc.set_swing(static_cast<uint64_t>(swing_spin.get_value()), continues_drag(last_swing_change));
    });
    channel_connection = channel_spin.signal_value_changed().connect(
        [this] { doc.set_channel(static_cast<uint64_t>(channel_spin.get_value())); });
    clock_connection = clock_check.signal_toggled().connect([this] { doc.set_clock(clock_check.get_active()); });
    follow_check.signal_toggled().connect([this] { player.set_follow_transport(follow_check.get_active()); });
    master_connection = master_check.signal_toggled().connect(sigc::mem_fun(*this, &MainWindow::on_master_toggled));
    for (Gtk::Widget* w : std::initializer_list<Gtk::Widget*>{&bpm_label, &bpm_spin, &swing_label, &swing_spin,
                                                             &channel_label, &channel_spin})
        control_box.pack_start(*w, Gtk::PACK_SHRINK, 0);
    swing_label.set_margin_start(6);
    channel_label.set_margin_start(6);
    // Each control named by its label, as assistive technology reads it.
    for (auto [label, spin] : {std::pair<Gtk::Label*, Gtk::SpinButton*>{&bpm_label, &bpm_spin},
                               {&swing_label, &swing_spin},
                               {&channel_label, &channel_spin}}) {
        label->set_mnemonic_widget(*spin);
        spin->get_accessible()->set_name(label->get_text());
    }
    control_box.pack_end(play_button, Gtk::PACK_SHRINK, 0);
    for (Gtk::CheckButton* check : {&clock_check, &follow_check, &master_check})
        options_box.pack_start(*check, Gtk::PACK_SHRINK, 0);
    main_box.pack_end(control_box, Gtk::PACK_SHRINK, 0);
    main_box.pack_end(options_box, Gtk::PACK_SHRINK, 0);
    play_button.signal_clicked().connect(sigc::mem_fun(*this, &MainWindow::on_play_stop_clicked));
    player.step_changed.connect(sigc::mem_fun(*this, &MainWindow::on_player_step));

    player.position_changed.connect(sigc::mem_fun(*this, &MainWindow::on_player_position));
    player.device_failed.connect(sigc::mem_fun(*this, &MainWindow::on_device_failed));
    doc.signal_changed().connect(sigc::mem_fun(*this, &MainWindow::on_document_changed));
    player.update(doc.song());   // the preview's channel is the song's from the start

    add(main_box);
    set_size_request(640, 768);
    show_all_children(true);
    rebuild_song_views();
    update_title();

    autosave_timer = Glib::signal_timeout().connect_seconds(sigc::mem_fun(*this, &MainWindow::on_autosave),
                                                            autosave_seconds);
    // Once the window is up, a song a last session left unsaved is offered.
    if (recovery.exists())
        Glib::signal_idle().connect_once(sigc::mem_fun(*this, &MainWindow::offer_recovery));
}

MainWindow::~MainWindow()
{
    autosave_timer.disconnect();
    retire_idle.disconnect();
    // Closing the window has stopped it already; the display is told once.
    if (player.is_playing())
        player.stop();
}

void MainWindow::rebuild_song_views()
{
    const uint64_t n = doc.song().sprites.size();
    // Destroying dozens of editors at once would hold the window for half a
    // second when a song is opened; they go one per idle turn instead.
    for (auto& editor : sprite_windows)
        if (editor) {
            editor->retire();
            retired_windows.push_back(std::move(editor));
        }
    if (!retired_windows.empty() && !retire_idle.connected())
        retire_idle = Glib::signal_idle().connect(sigc::mem_fun(*this, &MainWindow::on_retire_idle),
                                                  Glib::PRIORITY_LOW);
    sprite_windows.clear();
    sprite_windows.resize(n);
    menus.add_sprite_actions(n, sigc::mem_fun(*this, &MainWindow::present_sprite_window));
    icon_buttons.rebuild(doc.song().sprites);
    strip.rebuild(doc.song());
    show_settings();
}

bool MainWindow::on_retire_idle()
{
    retired_windows.pop_back();
    return !retired_windows.empty();
}

// The song-wide settings in their controls, without asking to change them.
void MainWindow::show_settings()
{
    const Song& song = doc.song();
    for (auto [spin, connection, value] :
         {std::tuple<Gtk::SpinButton*, sigc::connection*, uint64_t>{&bpm_spin, &bpm_connection, song.bpm},
          {&swing_spin, &swing_connection, song.swing},
          {&channel_spin, &channel_connection, song.channel}}) {
        connection->block();
        spin->set_value(double(value));
        connection->unblock();
    }
    clock_connection.block();
    clock_check.set_active(song.clock);
    clock_connection.unblock();
}

void MainWindow::on_document_changed(const DocumentChange& change)
{
    using Kind = DocumentChange::Kind;
    switch (change.kind) {
    case Kind::entry_inserted:
        strip.insert_column(change.position, static_cast<uint32_t>(change.sprite));
        break;
    case Kind::entry_erased:
        strip.erase_column(change.position);
        break;
    case Kind::tempo:
        show_settings();
        player.set_tempo(doc.song().bpm);
        break;
    case Kind::swing:
    case Kind::channel:
    case Kind::clock:
        show_settings();
        break;
    case Kind::color:
        icon_buttons.set_color(change.sprite, doc.song().sprites[change.sprite].color);
        strip.set_color(change.sprite, doc.song().sprites[change.sprite].color);
        break;
    case Kind::whole_song:
        rebuild_song_views();
        player.set_tempo(doc.song().bpm);
        break;
    case Kind::saved:
        recovery.remove();
        break;
    case Kind::note:
    case Kind::beats:
        break;   // the sprite's editor follows it itself
    case Kind::velocity:
    case Kind::mute:
    case Kind::solo:
        break;   // no view shows them yet; the player hears them below
    }
    if (change.kind != Kind::saved) {
        player.update(doc.song());
        autosaved = false;
    }
    menus.set_enabled("Undo", doc.can_undo());
    menus.set_enabled("Redo", doc.can_redo());
    update_title();
}

// Editors are built when first presented: the grid of a big song's every
// sprite would cost seconds and hundreds of megabytes before the window shows.
void MainWindow::present_sprite_window(uint64_t i)
{
    if (i >= sprite_windows.size())
        return;
    if (!sprite_windows[i]) {
        auto editor = std::make_unique<SpriteWindow>(i, doc, sprite_label(i), *this);
        // The window's actions and their keys (undo, redo, save...) work there too.
        editor->insert_action_group("stepmill", menus.group());
        editor->set_application(application);
        editor->signal_play_stop().connect(sigc::mem_fun(*this, &MainWindow::on_sprite_play_stop));
        editor->signal_preview().connect(sigc::mem_fun(player, &Player::preview));
        sprite_windows[i] = std::move(editor);
    }
    sprite_windows[i]->present();
}

// Changes closer than this are one drag of a control: one undo step.
bool MainWindow::continues_drag(gint64& last_change)
{
    const gint64 now = g_get_monotonic_time();
    const bool merge = now - last_change < drag_us;
    last_change = now;
    return merge;
}

void MainWindow::on_bpm_changed()
{
    // The control's range keeps the tempo within what the document takes.
    doc.set_tempo(static_cast<uint64_t>(bpm_spin.get_value()), continues_drag(last_tempo_change));
}

void MainWindow::on_master_toggled()
{
    if (player.set_timebase_master(master_check.get_active()) || !master_check.get_active())
        return;
    master_connection.block();
    master_check.set_active(false);
    master_connection.unblock();
    on_device_failed(texts::master_refused);
}

void MainWindow::on_player_step(uint64_t sprite, uint64_t beat)
{
    for (uint64_t i = 0; i < sprite_windows.size(); ++i)
        if (sprite_windows[i])
            sprite_windows[i]->show_step(i == sprite ? beat : NoteGrid::none);
}

void MainWindow::on_play_stop_clicked()
{
    // An empty sequence is never started.
    if (player.is_playing() || doc.song().sequence.empty()) {
        player.stop();
    } else {
        device_bar.hide();
        player.start_sequence(doc.song());
    }
}

void MainWindow::on_sprite_play_stop(uint64_t sprite)
{
    if (player.is_playing()) {
        player.stop();
    } else {
        device_bar.hide();
        player.start_sprite(doc.song(), sprite);
    }
}

void MainWindow::on_player_position(uint64_t p)
{
    strip.place_cursor_after(p);
}

void MainWindow::on_device_failed(const std::string& reason)
{
    device_message.set_text(texts::device_failed + Glib::ustring(reason));
    device_bar.show();
}

bool MainWindow::on_key_press_event(GdkEventKey* event)
{
    // The arrows belong to the strip: they never move the focus between
    // widgets nor reach a focused widget.
    if (strip.on_arrow_key(event->keyval))
        return true;
    // Everything else goes to accelerators, mnemonics and the focused widget
    // first; the strip only takes what they leave.
    if (Gtk::Window::on_key_press_event(event))
        return true;
    return strip.on_edit_key(event->keyval);
}

void MainWindow::on_undo()
{
    doc.undo();
}

void MainWindow::on_redo()
{
    doc.redo();
}

bool MainWindow::on_delete_event(GdkEventAny*)
{
    if (settle_changes())
        quit();
    return true;   // the window stays until the application ends
}

void MainWindow::on_exit()
{
    if (settle_changes())
        quit();
}

void MainWindow::on_terminate()
{
    if (doc.modified()) {
        std::string error;
        recovery.write(doc, error);
    }
    quit();
}

void MainWindow::quit()
{
    player.stop();
    application->quit();
}

bool MainWindow::on_autosave()
{
    // The modified mark stays: only a save clears it.
    std::string error;
    if (doc.modified() && !autosaved)
        autosaved = recovery.write(doc, error);
    return true;
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

}  // namespace stepmill
