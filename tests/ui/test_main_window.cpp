// The main window as the program builds it: sprite buttons and actions for
// songs of different sizes, the File menu, the tempo control, play/stop,
// closing, and the accelerators.
#include "file_dialogs.h"
#include "gtk_test.h"
#include "main_menu_bar.h"
#include "main_window.h"
#include "midi_memory_platform.h"
#include "program.h"
#include "sprite_window.h"

#include <gdk/gdkkeysyms.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <gtkmm/accellabel.h>
#include <gtkmm/menu.h>
#include <gtkmm/menubar.h>
#include <gtkmm/separatormenuitem.h>

#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

using namespace stepmill;

namespace {

class Window : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (window)
            window->player.stop();
        window.reset();
        midi_out.reset();
        if (!song_path.empty())
            g_remove(song_path.c_str());
        song_path.clear();
    }

    // Builds, registers and shows the window as the program does; with a
    // sprite count, from a song file of that many sprites.
    void open_window(std::optional<uint64_t> sprites = std::nullopt)
    {
        ASSERT_TRUE(stepmill_test::open_memory_port(platform));
        application = stepmill_test::make_application();
        if (sprites) {
            Song song;
            song.reset_sprites(*sprites);
            gchar* path = nullptr;
            int fd = g_file_open_tmp("stepmill-window-XXXXXX.trm", &path, nullptr);
            ASSERT_GE(fd, 0);
            close(fd);
            song_path = path;
            g_free(path);
            ASSERT_TRUE(song.write(song_path));
        }
        window = stepmill_test::make_window(application, song_path);
        auto scripted = std::make_unique<ScriptedFileDialogs>();
        dialogs = scripted.get();
        window->dialogs = std::move(scripted);
        application->register_application();
        application->add_window(*window);
        ASSERT_TRUE(stepmill_test::show_focused(*window));
    }

    // A key press as the toolkit delivers it to the window.
    void press(guint keyval, GdkModifierType state)
    {
        GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
        event->key.window = GDK_WINDOW(g_object_ref(window->get_window()->gobj()));
        event->key.keyval = keyval;
        event->key.state = state;
        event->key.send_event = TRUE;
        GdkKeymapKey* keys = nullptr;
        gint n_keys = 0;
        if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gdk_display_get_default()), keyval,
                                              &keys, &n_keys) && n_keys > 0)
            event->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
        g_free(keys);
        gdk_event_set_device(event,
                             gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
        gtk_widget_event(GTK_WIDGET(window->gobj()), event);
        gdk_event_free(event);
        stepmill_test::settle();
    }

    std::vector<std::string> button_labels() const
    {
        std::vector<std::string> labels;
        for (Gtk::Widget* child : window->icon_buttons.get_children())
            labels.push_back(dynamic_cast<Gtk::Button*>(child)->get_label());
        return labels;
    }

    // Note-ons (velocity above 0) the platform received, by note number.
    std::vector<int> notes_sent() const
    {
        std::vector<int> notes;
        for (const auto& message : platform.sent)
            if (message.bytes.size() == 3 && message.bytes[0] == 0x99 && message.bytes[2] > 0)
                notes.push_back(message.bytes[1]);
        return notes;
    }

    midi_memory_platform_t platform;
    Glib::RefPtr<Gtk::Application> application;
    std::unique_ptr<MainWindow> window;
    ScriptedFileDialogs* dialogs = nullptr;
    std::string song_path;
};

// The labels and action names a song of n sprites must show, written out
// independently of the code under test.
std::vector<std::string> expected_labels(uint64_t n)
{
    const std::string digits = "0123456789";
    const std::string lower = "abcdefghijklmnopqrstuvwxyz";
    const std::string upper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::vector<std::string> all;
    for (char c : digits + lower + upper)
        all.push_back(std::string(1, c));
    for (int i = 62; i < 100; ++i)
        all.push_back(std::to_string(i));
    all.resize(n);
    return all;
}

std::string expected_action(uint64_t i)
{
    const std::string label = expected_labels(i + 1).back();
    if (i < 10)
        return "_" + label;
    if (i < 62)
        return std::to_string(i) + " _" + label;
    return label;
}

TEST_F(Window, SpriteButtonsAndActionsFollowTheSong)
{
    struct Case {
        std::optional<uint64_t> sprites;   // nothing: no file, the default song
        uint64_t count;
    };
    const std::vector<Case> cases = {
        {std::nullopt, 36},
        {63, 63},
        {0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        open_window(c.sprites);
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(button_labels(), expected_labels(c.count));
        for (uint64_t i = 0; i < c.count; ++i)
            EXPECT_TRUE(application->has_action(expected_action(i))) << i;
        EXPECT_FALSE(application->has_action(expected_action(c.count)));
        EXPECT_EQ(window->bpm_spin.get_value(), 120.0);
        EXPECT_EQ(window->get_title(), program_title);
        TearDown();
    }
}

TEST_F(Window, ButtonsAndActionsPresentTheirSprite)
{
    open_window();
    ASSERT_FALSE(HasFatalFailure());
    auto button = std::next(window->icon_buttons.buttons.begin(), 7);
    (*button)->clicked();
    stepmill_test::settle();
    ASSERT_NE(window->sprite_windows[7], nullptr);
    EXPECT_TRUE(window->sprite_windows[7]->get_visible());

    application->activate_action("12 _c");
    stepmill_test::settle();
    ASSERT_NE(window->sprite_windows[12], nullptr);
    EXPECT_TRUE(window->sprite_windows[12]->get_visible());

    // A sprite the song does not have: nothing happens.
    window->present_sprite_window(36);
    EXPECT_EQ(window->sprite_windows.size(), 36u);
    int built = 0;
    for (SpriteWindow* editor : window->sprite_windows)
        built += editor != nullptr;
    EXPECT_EQ(built, 2);
}

// An item's mnemonic text and the accelerator its label shows.
struct MenuLine {
    std::string label;           // "-" for a separator
    guint key;
    GdkModifierType mods;
};

std::vector<MenuLine> menu_lines(Gtk::Menu& menu)
{
    std::vector<MenuLine> lines;
    for (Gtk::Widget* child : menu.get_children()) {
        if (!child->get_visible())
            continue;
        if (dynamic_cast<Gtk::SeparatorMenuItem*>(child)) {
            lines.push_back({"-", 0, GdkModifierType(0)});
            continue;
        }
        auto item = dynamic_cast<Gtk::MenuItem*>(child);
        if (!item)
            continue;
        MenuLine line{item->get_use_underline() ? std::string(item->get_label()) : "(no mnemonic)", 0,
                      GdkModifierType(0)};
        // The accelerator label may sit inside a box with an icon.
        std::vector<Gtk::Widget*> pending = {item->get_child()};
        while (!pending.empty()) {
            Gtk::Widget* w = pending.back();
            pending.pop_back();
            if (auto accel = dynamic_cast<Gtk::AccelLabel*>(w)) {
                gtk_accel_label_get_accel(accel->gobj(), &line.key, &line.mods);
            } else if (auto container = dynamic_cast<Gtk::Container*>(w)) {
                for (Gtk::Widget* c : container->get_children())
                    pending.push_back(c);
            }
        }
        EXPECT_TRUE(item->is_sensitive()) << line.label << ": its action was not found";
        lines.push_back(line);
    }
    return lines;
}

TEST_F(Window, FileMenu)
{
    open_window();
    ASSERT_FALSE(HasFatalFailure());
    auto children = window->main_box.get_children();
    ASSERT_FALSE(children.empty());
    auto bar = dynamic_cast<Gtk::MenuBar*>(children.front());
    ASSERT_NE(bar, nullptr);
    auto tops = bar->get_children();
    ASSERT_EQ(tops.size(), 1u);
    auto file = dynamic_cast<Gtk::MenuItem*>(tops.front());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->get_label(), "_File");
    EXPECT_TRUE(file->get_use_underline());
    Gtk::Menu* menu = file->get_submenu();
    ASSERT_NE(menu, nullptr);

    const std::vector<MenuLine> expected = {
        {"_Open", GDK_KEY_o, GDK_CONTROL_MASK},
        {"save_As", 0, GdkModifierType(0)},
        {"_Export to SMF", 0, GdkModifierType(0)},
        {"-", 0, GdkModifierType(0)},
        {"e_Xit", GDK_KEY_q, GDK_CONTROL_MASK},
    };
    const std::vector<MenuLine> lines = menu_lines(*menu);
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(expected[i].label);
        EXPECT_EQ(lines[i].label, expected[i].label);
        EXPECT_EQ(lines[i].key, expected[i].key);
        EXPECT_EQ(lines[i].mods, expected[i].mods);
    }

    // The items run their commands; the dialogs' log tells which one.
    struct Run {
        size_t item;
        std::string log;
    };
    const std::vector<Run> runs = {{0, "chooser 開く #1 last="},
                                   {1, "chooser 保存 #1 last="},
                                   {2, "chooser SMF保存 #1 last="}};
    auto items = menu->get_children();
    for (const Run& run : runs) {
        auto scripted = std::make_unique<ScriptedFileDialogs>();
        dialogs = scripted.get();
        window->dialogs = std::move(scripted);
        dynamic_cast<Gtk::MenuItem*>(*std::next(items.begin(), static_cast<long>(run.item)))->activate();
        stepmill_test::settle();
        EXPECT_EQ(dialogs->log, std::vector<std::string>{run.log});
    }
}

TEST_F(Window, ControlOOpens)
{
    open_window();
    ASSERT_FALSE(HasFatalFailure());
    press(GDK_KEY_o, GDK_CONTROL_MASK);
    EXPECT_EQ(dialogs->log, std::vector<std::string>{"chooser 開く #1 last="});
    // Without Control the key is the strip's, not the command's.
    auto scripted = std::make_unique<ScriptedFileDialogs>();
    dialogs = scripted.get();
    window->dialogs = std::move(scripted);
    press(GDK_KEY_o, GdkModifierType(0));
    EXPECT_TRUE(dialogs->log.empty());
}

TEST_F(Window, ControlQEndsWithStatusZero)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            open_window();
            press(GDK_KEY_q, GDK_CONTROL_MASK);
            std::exit(3);   // reached only when the accelerator did nothing
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(Window, TempoStaysWithinItsRange)
{
    open_window();
    ASSERT_FALSE(HasFatalFailure());
    struct Case {
        const char* typed;   // typed into the field, or nothing
        double set;          // else set as a value
        uint64_t bpm;
    };
    const std::vector<Case> cases = {
        {nullptr, 0.0, 1},     {nullptr, -20.0, 1},    {nullptr, 1.0, 1},
        {nullptr, 999.6, 999},  // the tempo is the value truncated
        {nullptr, 1000.0, 1000}, {nullptr, 5000.0, 1000}, {nullptr, 90.0, 90},
        {"2000", 0, 1000},     {"0", 0, 1},            {"133", 0, 133},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed ? c.typed : std::to_string(c.set));
        if (c.typed) {
            window->bpm_spin.set_text(c.typed);
            window->bpm_spin.update();
        } else {
            window->bpm_spin.set_value(c.set);
        }
        EXPECT_EQ(window->song.bpm, c.bpm);
        EXPECT_GE(window->bpm_spin.get_value(), 1.0);
        EXPECT_LE(window->bpm_spin.get_value(), 1000.0);
    }
}

TEST_F(Window, TempoChangesARunningPlayerWithoutAJump)
{
    open_window();
    ASSERT_FALSE(HasFatalFailure());
    window->song.sequence = {0, 1};
    window->play_button.clicked();
    ASSERT_TRUE(window->player.is_playing());
    stepmill_test::run_main_loop_for(std::chrono::milliseconds(300));
    ASSERT_NE(window->player.last_elapsed_ms, 0xFFFFFFFFu) << "the player has not ticked";
    const double bars_before = window->player.last_elapsed_ms * double(window->player.bars_per_second) / 1000.0;
    window->bpm_spin.set_value(240.0);
    EXPECT_FLOAT_EQ(window->player.bars_per_second, 1.0f);
    const double bars_after = window->player.last_elapsed_ms * double(window->player.bars_per_second) / 1000.0;
    // Within a millisecond of the new tempo's bar.
    EXPECT_NEAR(bars_after, bars_before, 0.001);
    EXPECT_TRUE(window->player.is_playing());
}

TEST_F(Window, PlayStop)
{
    struct Case {
        const char* what;
        std::vector<uint32_t> sequence;
        int playing_before;          // 0 stopped, 1 a sprite loop, 2 the sequence
        bool playing_after;
        bool notes_expected;
    };
    const std::vector<Case> cases = {
        {"empty sequence starts nothing", {}, 0, false, false},
        {"stopped with a sequence starts it", {1, 0}, 0, true, true},
        {"playing the sequence stops", {1, 0}, 2, false, false},
        {"a sprite loop stops too", {1}, 1, false, false},
        {"a sprite loop with an empty sequence stops", {}, 1, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        open_window();
        ASSERT_FALSE(HasFatalFailure());
        window->song.sprites[1].notes[0].set(38);
        window->song.sprites[0].notes[0].set(36);
        window->song.sequence.assign(c.sequence.begin(), c.sequence.end());
        if (c.playing_before == 1)
            window->player.start_sprite(window->song, 0);
        else if (c.playing_before == 2)
            window->player.start_sequence(window->song);
        stepmill_test::run_main_loop_for(std::chrono::milliseconds(50));
        platform.sent.clear();

        window->play_button.clicked();
        EXPECT_EQ(window->player.is_playing(), c.playing_after);
        stepmill_test::run_main_loop_for(std::chrono::milliseconds(150));
        const std::vector<int> notes = notes_sent();
        if (c.notes_expected)
            EXPECT_EQ(notes, std::vector<int>{38}) << "the first entry's first beat";
        else
            EXPECT_TRUE(notes.empty());
        TearDown();
    }
}

TEST_F(Window, ClosingWhilePlayingStopsThePlayer)
{
    open_window();
    ASSERT_FALSE(HasFatalFailure());
    window->song.sequence = {0};
    window->play_button.clicked();
    ASSERT_TRUE(window->player.is_playing());
    window->close();
    stepmill_test::settle();
    EXPECT_FALSE(window->player.is_playing());
    EXPECT_FALSE(window->get_visible());
}

}  // namespace
