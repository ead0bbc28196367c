// The file commands through the window's dialog seam: scripted answers in
// place of the choosers and message boxes, real files in a temporary folder.
#include "file_dialogs.h"
#include "gtk_test.h"
#include "main_menu_bar.h"
#include "main_window.h"
#include "midi_memory_platform.h"
#include "program.h"

#include <glib/gstdio.h>
#include <glibmm/fileutils.h>
#include <glibmm/main.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

using namespace stepmill;

namespace {

std::string read_all(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool exists(const std::string& path)
{
    return Glib::file_test(path, Glib::FILE_TEST_EXISTS);
}

void write_text(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// A song of `sprites` sprites, each with `note` on its first beat.
void write_song(const std::string& path, uint64_t sprites, uint64_t bpm, uint8_t note,
                std::list<uint32_t> sequence)
{
    Song song;
    song.reset_sprites(sprites);
    song.bpm = bpm;
    for (Sprite& sprite : song.sprites)
        sprite.notes[0].set(note);
    song.sequence = std::move(sequence);
    ASSERT_TRUE(song.write(path));
}

using stepmill_test::run_main_loop_for;

class FileCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(stepmill_test::open_memory_port(platform));
        application = stepmill_test::make_application();
        window = stepmill_test::make_window(application);
        // As the program does before it runs: the sprite actions are looked
        // up on a registered application.
        try {
            application->register_application();
        } catch (const Glib::Error& error) {
            FAIL() << error.what();
        }
        fresh_dialogs();
        gchar* made = g_dir_make_tmp("stepmill-files-XXXXXX", nullptr);
        ASSERT_NE(made, nullptr);
        dir = made;
        g_free(made);
    }

    void TearDown() override
    {
        window->player.stop();
        window.reset();
        midi_out.reset();
        // Only our own flat folder of test files.
        if (!dir.empty()) {
            Glib::Dir folder(dir);
            for (const std::string& entry : folder)
                g_remove((dir + "/" + entry).c_str());
            g_rmdir(dir.c_str());
        }
    }

    // The log numbers choosers from 1 within one dialogs object, and each
    // command a test checks must meet its first chooser.
    void fresh_dialogs()
    {
        auto scripted = std::make_unique<ScriptedFileDialogs>();
        dialogs = scripted.get();
        window->dialogs = std::move(scripted);
    }

    std::string at(const std::string& name) const { return dir + "/" + name; }

    midi_memory_platform_t platform;
    Glib::RefPtr<Gtk::Application> application;
    std::unique_ptr<MainWindow> window;
    ScriptedFileDialogs* dialogs = nullptr;
    std::string dir;
};

const std::string overwrite = " に上書き保存してもよろしいですか?";
const std::string save_failed = " の保存に失敗しました";

// Save As and Export share their road: chooser, overwrite question, write.
TEST_F(FileCommands, SaveAsAndExportAskWriteAndReport)
{
    struct Case {
        const char* what;
        FileCommand command;
        std::vector<std::string> existing;              // files made first, "old" inside
        std::vector<std::optional<std::string>> paths;  // chooser answers ("@" = the test folder)
        std::deque<bool> answers;
        std::vector<std::string> log;                   // expected, "@" = the test folder
        std::string written;                            // the file that must now hold the song
        bool title_changes;
    };
    const char* chooser_save = "chooser 保存 #1 last=";
    const char* chooser_smf = "chooser SMF保存 #1 last=";
    const std::vector<Case> cases = {
        {"cancelled", FileCommand::save_as, {}, {std::nullopt}, {}, {chooser_save}, "", false},
        {"new name, no question", FileCommand::save_as, {}, {"@/beat.trm"}, {},
         {chooser_save}, "@/beat.trm", true},
        {"no extension is added", FileCommand::save_as, {}, {"@/song"}, {},
         {chooser_save}, "@/song", true},
        {"refused overwrite asks again, a new name then saves", FileCommand::save_as,
         {"@/old.trm"}, {"@/old.trm", "@/new.trm"}, {false},
         {chooser_save, "confirm 上書き確認: @/old.trm" + overwrite,
          std::string(chooser_save) + "@/old.trm"},
         "@/new.trm", true},
        {"refused overwrite then cancel writes nothing", FileCommand::save_as,
         {"@/old.trm"}, {"@/old.trm", std::nullopt}, {false},
         {chooser_save, "confirm 上書き確認: @/old.trm" + overwrite,
          std::string(chooser_save) + "@/old.trm"},
         "", false},
        {"accepted overwrite", FileCommand::save_as, {"@/old.trm"}, {"@/old.trm"}, {true},
         {chooser_save, "confirm 上書き確認: @/old.trm" + overwrite}, "@/old.trm", true},
        {"missing folder", FileCommand::save_as, {}, {"@/none/beat.trm"}, {},
         {chooser_save, "error ファイル保存エラー: @/none/beat.trm" + save_failed,
          "error closed ファイル保存エラー"},
         "", false},
        {"folder not writable keeps the old file", FileCommand::save_as, {}, {"/proc/version"},
         {true},
         {chooser_save, "confirm 上書き確認: /proc/version" + overwrite,
          "error ファイル保存エラー: /proc/version" + save_failed, "error closed ファイル保存エラー"},
         "", false},
        {"export, new name", FileCommand::export_smf, {}, {"@/beat.mid"}, {}, {chooser_smf},
         "@/beat.mid", false},
        {"export, refused then new", FileCommand::export_smf, {"@/old.mid"},
         {"@/old.mid", "@/new.mid"}, {false},
         {chooser_smf, "confirm 上書き確認: @/old.mid" + overwrite,
          std::string(chooser_smf) + "@/old.mid"},
         "@/new.mid", false},
        {"export, missing folder", FileCommand::export_smf, {}, {"@/none/beat.mid"}, {},
         {chooser_smf, "error ファイル保存エラー: @/none/beat.mid" + save_failed,
          "error closed ファイル保存エラー"},
         "", false},
    };

    auto expand = [this](std::string text) {
        for (size_t at_sign; (at_sign = text.find('@')) != std::string::npos;)
            text.replace(at_sign, 1, dir);
        return text;
    };

    window->song.sequence = {0, 1, 0};
    window->song.sprites[0].notes[0].set(36);
    window->song.sprites[1].notes[4].set(38);
    std::ostringstream song_text;
    window->song.write(song_text);

    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string old_proc = read_all("/proc/version");
        std::vector<std::string> made;
        for (const std::string& file : c.existing) {
            made.push_back(expand(file));
            write_text(made.back(), "old");
        }
        const Glib::ustring title = "title " + std::to_string(++n);
        window->set_title(title);
        fresh_dialogs();
        for (const auto& path : c.paths)
            dialogs->paths.push_back(path ? std::optional<std::string>(expand(*path)) : std::nullopt);
        dialogs->answers = c.answers;

        if (c.command == FileCommand::save_as)
            window->on_save_as();
        else
            window->on_export();

        std::vector<std::string> expected;
        for (const std::string& line : c.log)
            expected.push_back(expand(line));
        EXPECT_EQ(dialogs->log, expected);
        EXPECT_TRUE(dialogs->paths.empty()) << "the chooser was asked fewer times than scripted";

        const std::string written = c.written.empty() ? "" : expand(c.written);
        if (!written.empty()) {
            const std::string bytes = read_all(written);
            if (c.command == FileCommand::save_as)
                EXPECT_EQ(bytes, song_text.str());
            else
                EXPECT_EQ(bytes.substr(0, 4), "MThd");
        }
        for (const std::string& file : made)
            if (file != written) {
                EXPECT_EQ(read_all(file), "old") << file;
            }
        EXPECT_FALSE(exists(at("beat.trm.trm")));
        EXPECT_FALSE(exists(at("song.trm")));
        EXPECT_EQ(read_all("/proc/version"), old_proc);
        EXPECT_EQ(window->get_title(), c.title_changes ? Glib::ustring(written) : title);

        Glib::Dir folder(dir);
        for (const std::string& entry : folder)
            g_remove(at(entry).c_str());
    }
}

TEST_F(FileCommands, OpenRebuildsTheWindowFromTheFile)
{
    const std::string path = at("forty.trm");
    write_song(path, 40, 150, 36, {39, 0, 7});

    dialogs->paths = {path};
    window->on_open();

    EXPECT_EQ(dialogs->log, std::vector<std::string>{"chooser 開く #1 last="});
    EXPECT_EQ(window->song.sprites.size(), 40u);
    EXPECT_EQ(window->sprite_windows.size(), 40u);
    EXPECT_EQ(window->icon_buttons.buttons.size(), 40u);
    for (uint64_t i = 0; i < 40; ++i)
        EXPECT_TRUE(application->has_action(sprite_action_name(i))) << i;
    EXPECT_FALSE(application->has_action(sprite_action_name(40)));
    EXPECT_EQ(window->sequence_widgets.size(), 3u);
    EXPECT_EQ(window->cursor_index, -1);
    EXPECT_NE(window->separate, nullptr);
    EXPECT_EQ(window->bpm_spin.get_value(), 150.0);
    EXPECT_EQ(window->song.bpm, 150u);
    EXPECT_EQ(window->get_title(), path);
    EXPECT_TRUE(window->icon_buttons.buttons.back()->get_visible());

    // The new editors are the new song's: the last one edits sprite 39.
    window->present_sprite_window(39);
    EXPECT_NE(window->sprite_windows[39], nullptr);
}

TEST_F(FileCommands, OpenFailuresAndFaultyFiles)
{
    struct Case {
        const char* what;
        std::optional<std::string> file_text;   // nothing: the file does not exist
        bool opens;
        uint64_t sprites_after;
    };
    const std::vector<Case> cases = {
        {"missing file", std::nullopt, false, 36},
        {"faulty lines",
         std::string("bpm: 90\nnonsense line\nsprites: 2\nbeats: 8\nbeat: 9 36\nsprite end\n"
                     "beats: 4\nbeat: 0 200 36\nsprite end\nsequence: 0 5 1\n"),
         true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = at("case.trm");
        g_remove(path.c_str());
        if (c.file_text)
            write_text(path, *c.file_text);
        window->set_title("before");
        const std::list<Gtk::Button*> buttons = window->icon_buttons.buttons;
        fresh_dialogs();
        dialogs->paths = {path};

        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        window->on_open();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

        if (c.opens) {
            EXPECT_EQ(dialogs->log, std::vector<std::string>{"chooser 開く #1 last="});
            EXPECT_EQ(window->get_title(), path);
            EXPECT_EQ(window->bpm_spin.get_value(), 90.0);
            EXPECT_EQ(window->sequence_widgets.size(), 2u);
            EXPECT_TRUE(window->song.sprites[1].notes[0].test(36));
        } else {
            // The box stays up until the error dialog, empty here, is answered.
            EXPECT_EQ(dialogs->log, (std::vector<std::string>{
                                        "chooser 開く #1 last=",
                                        "error ファイルオープンエラー: " + path + "のオープンに失敗しました",
                                        "error_text file open error.: ",
                                        "error closed ファイルオープンエラー"}));
            EXPECT_EQ(window->get_title(), "before");
            EXPECT_EQ(window->icon_buttons.buttons, buttons);
        }
        EXPECT_EQ(window->song.sprites.size(), c.sprites_after);
        EXPECT_EQ(window->icon_buttons.buttons.size(), c.sprites_after);
        EXPECT_EQ(window->sprite_windows.size(), c.sprites_after);
    }

    // A cancelled chooser changes nothing and shows nothing.
    fresh_dialogs();
    window->set_title("before");
    window->on_open();
    EXPECT_EQ(dialogs->log, std::vector<std::string>{"chooser 開く #1 last="});
    EXPECT_EQ(window->get_title(), "before");
}

// Opening while the player runs: afterwards only the new song's notes sound.
TEST_F(FileCommands, OpenWhilePlayingStaysInsideTheNewSong)
{
    struct Case {
        const char* what;
        bool sequence;                  // else one sprite loops
        uint64_t new_sprites;
        std::list<uint32_t> new_sequence;
    };
    const std::vector<Case> cases = {
        {"sequence, fewer sprites", true, 2, {1, 0}},
        {"sequence, empty sequence", true, 3, {}},
        {"sequence, no sprites", true, 0, {}},
        {"sprite loop, its sprite gone", false, 2, {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        window->song.reset_sprites(36);
        window->song.sequence.clear();
        for (uint32_t i = 0; i < 36; ++i) {
            window->song.sprites[i].notes[0].set(42);
            window->song.sequence.push_back(35 - i);
        }
        window->bpm_spin.set_value(1000);
        if (c.sequence)
            window->player.start_sequence(window->song);
        else
            window->player.start_sprite(window->song, 30);
        run_main_loop_for(std::chrono::milliseconds(600));   // well into the sequence

        const std::string path = at("small.trm");
        write_song(path, c.new_sprites, 1000, 36, c.new_sequence);
        dialogs->paths = {path};
        window->on_open();
        ASSERT_EQ(window->song.sprites.size(), c.new_sprites);
        platform.sent.clear();
        run_main_loop_for(std::chrono::milliseconds(600));

        for (const auto& message : platform.sent) {
            const auto& bytes = message.bytes;
            if (bytes.size() == 3 && (bytes[0] & 0xF0) == 0x90 && bytes[2] != 0) {
                EXPECT_EQ(bytes[1], 36) << "a note-on of the old song";
            }
        }
        window->player.stop();
    }
}

}  // namespace
