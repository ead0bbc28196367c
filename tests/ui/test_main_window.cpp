// The main window as the program builds it: sprite buttons and actions for
// songs of different sizes, the File menu and its accelerators, the tempo
// control, play/stop and closing.
#include "gtk_test.h"
#include "main_menu_bar.h"
#include "program.h"
#include "sprite_window.h"

#include <gdk/gdkkeysyms.h>
#include <glib/gstdio.h>
#include <gtkmm/accellabel.h>
#include <gtkmm/menu.h>
#include <gtkmm/menubar.h>
#include <gtkmm/separatormenuitem.h>

#include <string>
#include <vector>

using namespace stepmill;

namespace {

class Window : public stepmill_test::WindowTest {
protected:
    // Note-ons the platform received, by note number.
    std::vector<int> notes_sent() const
    {
        std::vector<int> notes;
        for (const auto& message : platform.sent)
            if (message.bytes.size() == 3 && message.bytes[0] == 0x99 && message.bytes[2] > 0)
                notes.push_back(message.bytes[1]);
        return notes;
    }
};

// Buttons and actions a song of n sprites must have, written out apart from
// the code under test: "0".."9", "a".."z", "A".."Z", then numbers.
TEST_F(Window, SpriteButtonsAndActionsFollowTheSong)
{
    const std::string letters = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (int count : {-1, 63, 0}) {   // -1: no file, the default song of 36
        SCOPED_TRACE(count);
        std::string path;
        if (count >= 0) {
            Song song;
            song.reset_sprites(static_cast<uint64_t>(count));
            path = testing::TempDir() + "window_" + std::to_string(count) + ".trm";
            ASSERT_TRUE(song.write(path));
        }
        open_window(path);
        const int n = count < 0 ? 36 : count;
        std::vector<std::string> labels, expected;
        for (Gtk::Widget* child : window->icon_buttons.get_children())
            labels.push_back(dynamic_cast<Gtk::Button*>(child)->get_label());
        for (int i = 0; i < n; ++i) {
            std::string label = i < 62 ? std::string(1, letters[i]) : std::to_string(i);
            expected.push_back(label);
            std::string action = i < 10 ? "_" + label : i < 62 ? std::to_string(i) + " _" + label : label;
            EXPECT_TRUE(application->has_action(action)) << action;
        }
        EXPECT_EQ(labels, expected);
        EXPECT_FALSE(application->has_action(sprite_action_name(static_cast<uint64_t>(n))));
        EXPECT_EQ(window->bpm_spin.get_value(), 120.0);
        EXPECT_EQ(window->get_title(), program_title);
        close_window();
        if (!path.empty())
            g_remove(path.c_str());
    }
}

TEST_F(Window, ButtonsAndActionsPresentTheirSprite)
{
    open_window();
    (*std::next(window->icon_buttons.buttons.begin(), 7))->clicked();
    application->activate_action("12 _c");
    window->present_sprite_window(36);   // a sprite the song does not have: nothing
    stepmill_test::settle();
    std::vector<uint64_t> built;
    for (uint64_t i = 0; i < window->sprite_windows.size(); ++i)
        if (window->sprite_windows[i] && window->sprite_windows[i]->get_visible())
            built.push_back(i);
    EXPECT_EQ(built, (std::vector<uint64_t>{7, 12}));
}

// The File menu's items with their mnemonics and accelerator labels, each
// running its command; Ctrl+O from the window opens, a plain "o" does not.
TEST_F(Window, FileMenuAndAccelerators)
{
    open_window();
    auto bar = dynamic_cast<Gtk::MenuBar*>(window->main_box.get_children().front());
    ASSERT_NE(bar, nullptr);
    auto file = dynamic_cast<Gtk::MenuItem*>(bar->get_children().front());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->get_label(), "_File");
    Gtk::Menu* menu = file->get_submenu();
    ASSERT_NE(menu, nullptr);

    struct Line { std::string label; guint key; std::string runs; };
    const std::vector<Line> expected = {
        {"_Open", GDK_KEY_o, "chooser 開く #1 last="},
        {"save_As", 0, "chooser 保存 #1 last="},
        {"_Export to SMF", 0, "chooser SMF保存 #1 last="},
        {"-", 0, ""},
        {"e_Xit", GDK_KEY_q, ""},
    };
    auto items = menu->get_children();
    ASSERT_EQ(items.size(), expected.size());
    auto item = items.begin();
    for (const Line& line : expected) {
        SCOPED_TRACE(line.label);
        auto menu_item = dynamic_cast<Gtk::MenuItem*>(*item++);
        ASSERT_NE(menu_item, nullptr);
        if (line.label == "-") {
            EXPECT_NE(dynamic_cast<Gtk::SeparatorMenuItem*>(menu_item), nullptr);
            continue;
        }
        EXPECT_EQ(menu_item->get_label(), line.label);
        EXPECT_TRUE(menu_item->get_use_underline());
        EXPECT_TRUE(menu_item->is_sensitive()) << "its action was not found";
        guint key = 0;
        GdkModifierType mods = GdkModifierType(0);
        if (auto accel = dynamic_cast<Gtk::AccelLabel*>(menu_item->get_child()))
            gtk_accel_label_get_accel(accel->gobj(), &key, &mods);
        EXPECT_EQ(key, line.key);
        EXPECT_EQ(mods, line.key ? GDK_CONTROL_MASK : GdkModifierType(0));
        if (!line.runs.empty()) {
            script_dialogs();
            menu_item->activate();
            stepmill_test::settle();
            EXPECT_EQ(dialogs->log, std::vector<std::string>{line.runs});
        }
    }

    script_dialogs();
    press(GDK_KEY_o);
    EXPECT_TRUE(dialogs->log.empty()) << "without Control the key is the strip's";
    press(GDK_KEY_o, GDK_CONTROL_MASK);
    EXPECT_EQ(dialogs->log, std::vector<std::string>{"chooser 開く #1 last="});
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

// The tempo stays within 1..1000, truncated, typed or set; a change reaches
// a running player without a jump in its position.
TEST_F(Window, Tempo)
{
    open_window();
    struct Case { const char* typed; double set; uint64_t bpm; };
    const std::vector<Case> cases = {
        {nullptr, 0.0, 1},     {nullptr, -20.0, 1},     {nullptr, 999.6, 999},
        {nullptr, 5000.0, 1000}, {"2000", 0, 1000},      {"0", 0, 1}, {"133", 0, 133},
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
    }

    // Playing 8 beats a bar at 120 bpm (12000 frames apart), then at 240 from
    // a third of the way into beat 1: the rest of it takes half as long.
    window->bpm_spin.set_value(120.0);
    window->song.sprites[0].notes[1].set(42);
    window->song.sprites[0].notes[2].set(42);
    window->song.sequence = {0};
    window->play_button.clicked();
    EXPECT_TRUE(window->player.is_playing());
    platform.advance(16000);
    window->bpm_spin.set_value(240.0);
    platform.advance(30000);
    std::vector<uint64_t> hats;
    for (const auto& m : platform.sent)
        if (m.bytes == std::vector<unsigned char>{0x99, 42, 127}) hats.push_back(m.time);
    EXPECT_EQ(hats, (std::vector<uint64_t>{12000, 16000 + 4000}));
}

// One button starts and stops; an empty sequence never starts; closing the
// window stops the player.
TEST_F(Window, PlayStopAndClosing)
{
    struct Case { const char* what; std::list<uint32_t> sequence; int before; bool after; };
    const std::vector<Case> cases = {   // before: 0 stopped, 1 a sprite loop, 2 the sequence
        {"empty sequence starts nothing", {}, 0, false},
        {"stopped with a sequence starts it", {1, 0}, 0, true},
        {"playing the sequence stops", {1, 0}, 2, false},
        {"a sprite loop with an empty sequence stops", {}, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        open_window();
        window->song.sprites[1].notes[0].set(38);
        window->song.sequence = c.sequence;
        if (c.before == 1)
            window->player.start_sprite(window->song, 0);
        else if (c.before == 2)
            window->player.start_sequence(window->song);
        platform.advance(2400);
        platform.sent.clear();
        window->play_button.clicked();
        EXPECT_EQ(window->player.is_playing(), c.after);
        platform.advance(4800);
        EXPECT_EQ(notes_sent(), c.after ? std::vector<int>{38} : std::vector<int>{}) << "the first entry's beat";
        if (c.after) {
            platform.sent.clear();
            window->close();
            stepmill_test::settle();
            EXPECT_FALSE(window->player.is_playing());
            EXPECT_FALSE(window->get_visible());
            window.reset();
            EXPECT_EQ(platform.sent.size(), 1u) << "the display told once of the stop";
        }
        close_window();
    }
}

}  // namespace
