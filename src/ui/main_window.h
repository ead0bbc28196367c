// The program's one top-level window. It owns the document (the song, its
// file, its history), the player, the sprite editors, the sequence strip, the
// actions and the sprite buttons; every edit goes through the document, and
// the views, the title and the player follow its change signal.
#pragma once

#include "document.h"
#include "file_dialogs.h"
#include "main_icon_buttons.h"
#include "main_menu_bar.h"
#include "player.h"
#include "recovery.h"
#include "sequence_strip.h"

#include <gtkmm/application.h>
#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/checkbutton.h>
#include <gtkmm/infobar.h>
#include <gtkmm/label.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/spinbutton.h>
#include <gtkmm/window.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace stepmill {

class SpriteWindow;

class MainWindow : public Gtk::Window {
public:
    MainWindow(int argc, char** argv, const Glib::RefPtr<Gtk::Application>& application);
    ~MainWindow() override;

    // Application signals (start-up).
    int on_handle_local_options(const Glib::RefPtr<Glib::VariantDict>& options);
    int on_cmdline(const Glib::RefPtr<Gio::ApplicationCommandLine>& command_line);

    // SIGTERM, SIGINT, SIGHUP: unsaved changes go to the recovery file, then
    // the program ends.
    void on_terminate();

    // Shows and raises the editor of sprite i.
    void present_sprite_window(uint64_t i);

    const Document& document() const { return doc; }
    // The dialogs the window runs; tests put scripted ones in their place.
    void set_dialogs(std::unique_ptr<FileDialogs> replacement) { dialogs = std::move(replacement); }

protected:
    bool on_delete_event(GdkEventAny* event) override;
    bool on_key_press_event(GdkEventKey* event) override;

private:
    // The document's change: the views, the title, the player and autosave follow.
    void on_document_changed(const DocumentChange& change);
    void rebuild_song_views();
    bool on_retire_idle();
    void update_title();

    // Controls.
    void on_bpm_changed();
    void on_master_toggled();
    void on_player_step(uint64_t sprite, uint64_t beat);
    void show_settings();
    static bool continues_drag(gint64& last_change);
    void on_play_stop_clicked();
    void on_sprite_play_stop(uint64_t sprite);
    void on_player_position(uint64_t p);
    void on_device_failed(const std::string& reason);

    // Actions.
    void on_open();
    void on_save();
    void on_save_as();
    void on_export();
    void on_exit();
    void on_undo();
    void on_redo();

    // File commands (main_window_files.cpp).
    bool save_to(const std::string& path);
    bool save_as();
    // Asks what to do with unsaved changes; true when the caller may go on.
    bool settle_changes();
    void quit();

    // Autosave and recovery.
    bool on_autosave();
    void offer_recovery();

    Glib::RefPtr<Gtk::Application> application;
    Document doc;
    Player player;
    Recovery recovery;
    std::unique_ptr<FileDialogs> dialogs;

    MainMenuBar menus;
    std::vector<std::unique_ptr<SpriteWindow>> sprite_windows;   // null until first presented
    std::vector<std::unique_ptr<SpriteWindow>> retired_windows;  // a replaced song's, destroyed when idle
    Gtk::Box main_box;
    Gtk::InfoBar device_bar;      // shown when the MIDI device is gone
    Gtk::Label device_message;
    Gtk::ScrolledWindow scroller;
    Gtk::Box body_box;
    MainIconButtons icon_buttons;
    SequenceStrip strip;
    Gtk::Box options_box;
    Gtk::CheckButton clock_check;
    Gtk::CheckButton follow_check;
    Gtk::CheckButton master_check;
    Gtk::Box control_box;
    Gtk::Label bpm_label;
    Gtk::SpinButton bpm_spin;
    Gtk::Label swing_label;
    Gtk::SpinButton swing_spin;
    Gtk::Label channel_label;
    Gtk::SpinButton channel_spin;
    Gtk::Button play_button;

    // Blocked while a control is set from the song.
    sigc::connection bpm_connection, swing_connection, channel_connection, clock_connection, master_connection;
    gint64 last_tempo_change = 0;   // a drag of the tempo (or the swing) is one undo step
    gint64 last_swing_change = 0;
    std::string titled_path;        // the file an Open or a save named in the title
    sigc::connection autosave_timer;
    sigc::connection retire_idle;
    bool autosaved = true;        // the recovery file holds the song as it is
};

// Sets up the toolkit's environment as the program wants it; call before the
// application is created.
void prepare_toolkit();

}  // namespace stepmill
