// The program's one top-level window: owner of the song, the player, the
// sprite editors, the sequence strip, the actions and the sprite buttons.
#pragma once

#include "main_icon_buttons.h"
#include "main_menu_bar.h"
#include "player.h"
#include "song.h"

#include <gtkmm/application.h>
#include <gtkmm/box.h>
#include <gtkmm/builder.h>
#include <gtkmm/button.h>
#include <gtkmm/infobar.h>
#include <gtkmm/label.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/spinbutton.h>
#include <gtkmm/window.h>

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

namespace stepmill {

class SpriteWindow;
class SequenceWidget;
class SeparateWidget;
class FileDialogs;

class MainWindow : public Gtk::Window {
public:
    MainWindow(int argc, char** argv, Glib::RefPtr<Gtk::Application>& application);
    ~MainWindow() override;

    // Application signals (start-up).
    int on_handle_local_options(const Glib::RefPtr<Glib::VariantDict>& options);
    int on_cmdline(const Glib::RefPtr<Gio::ApplicationCommandLine>& command_line);

    // Controls.
    void on_bpm_changed();
    void on_play_stop_clicked();
    void on_device_failed(const std::string& reason);
    void present_sprite_window(uint64_t i);

    // Song views and the sequence strip.
    void build_song_views();
    void clear_song_views();
    void on_player_position(uint64_t p);
    void keep_visible(const Gdk::Rectangle& r);

    // File commands and exit.
    void on_open();
    void on_save_as();
    void on_export();
    void on_exit();

    Song song;
    Player player;
    // Element i edits sprite i; an editor is built when first presented, so
    // an element is null until then.
    std::vector<SpriteWindow*> sprite_windows;
    Glib::RefPtr<Gtk::Builder> builder;
    Gtk::Box main_box;
    Gtk::InfoBar device_bar;      // shown when the MIDI device is gone
    Gtk::Label device_message;
    Gtk::Box body_box;
    int cursor_index = -1;
    std::list<uint32_t>::iterator cursor_entry;
    std::list<SequenceWidget*>::iterator cursor_widget;
    std::list<SequenceWidget*> sequence_widgets;
    SeparateWidget* separate = nullptr;
    Gtk::Box strip_box;
    Gtk::ScrolledWindow scroller;
    MainMenuBar menu_bar;
    MainIconButtons icon_buttons;
    Gtk::Label bpm_label;
    Gtk::SpinButton bpm_spin;
    Gtk::Button play_button;
    Gtk::Box control_box;

    // The file choosers and message boxes; tests put their own answers here.
    std::unique_ptr<FileDialogs> dialogs;

protected:
    void on_realize() override;
    void on_unrealize() override;
    bool on_delete_event(GdkEventAny* event) override;
    bool on_key_press_event(GdkEventKey* event) override;
    bool on_configure_event(GdkEventConfigure* event) override;

private:
    void insert_entry(uint32_t sprite);
    void erase_before_cursor();
    void erase_at_cursor();

    // Added for the lazily built sprite editors: the sprites whose editor had
    // been built when the views were last cleared, rebuilt (hidden) by the
    // next build_song_views.
    std::vector<uint64_t> built_editors;
};

}  // namespace stepmill
