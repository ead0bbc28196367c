// The file commands through the window's dialog seam: scripted answers in
// place of the choosers and message boxes, real files in a temporary folder.
#include "gtk_test.h"
#include "main_menu_bar.h"

#include <glib/gstdio.h>
#include <glibmm/fileutils.h>

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

// A song of `sprites` sprites, each with `note` on its first beat.
void write_song(const std::string& path, uint64_t sprites, uint64_t bpm, uint8_t note, std::list<uint32_t> sequence)
{
    Song song;
    song.reset_sprites(sprites);
    song.bpm = bpm;
    for (Sprite& sprite : song.sprites)
        sprite.notes[0].set(note);
    song.sequence = std::move(sequence);
    ASSERT_TRUE(song.write(path));
}

class FileCommands : public stepmill_test::WindowTest {
protected:
    void SetUp() override
    {
        open_window();
        gchar* made = g_dir_make_tmp("stepmill-files-XXXXXX", nullptr);
        ASSERT_NE(made, nullptr);
        dir = made;
        g_free(made);
    }

    void TearDown() override
    {
        close_window();
        empty_dir();
        g_rmdir(dir.c_str());
    }

    void empty_dir()
    {
        for (const std::string& entry : Glib::Dir(dir))
            g_remove(at(entry).c_str());
    }

    // "@" stands for the test folder.
    std::string at(std::string name) const
    {
        for (size_t sign; (sign = name.find('@')) != std::string::npos;)
            name.replace(sign, 1, dir);
        return name.find('/') == std::string::npos ? dir + "/" + name : name;
    }

    std::string dir;
};

const std::string overwrite = " に上書き保存してもよろしいですか?";
const std::string save_failed = " の保存に失敗しました";

// Save As and Export share their road: chooser, overwrite question, write.
TEST_F(FileCommands, SaveAsAndExportAskWriteAndReport)
{
    struct Case {
        const char* what;
        bool save_as;                                   // else Export
        std::vector<std::string> existing;              // files made first, holding "old"
        std::vector<std::optional<std::string>> paths;  // the chooser's answers
        std::deque<bool> answers;
        std::vector<std::string> log;                   // expected after the chooser's first line
        std::string written;                            // the file that must now hold the song
    };
    const std::vector<Case> cases = {
        {"cancelled", true, {}, {std::nullopt}, {}, {}, ""},
        {"new name, no question", true, {}, {"@/beat.trm"}, {}, {}, "@/beat.trm"},
        {"no extension is added", true, {}, {"@/song"}, {}, {}, "@/song"},
        {"refused overwrite asks again, a new name then saves", true, {"@/old.trm"}, {"@/old.trm", "@/new.trm"},
         {false}, {"confirm 上書き確認: @/old.trm" + overwrite, "chooser 保存 #1 last=@/old.trm"}, "@/new.trm"},
        {"refused overwrite then cancel writes nothing", true, {"@/old.trm"}, {"@/old.trm", std::nullopt}, {false},
         {"confirm 上書き確認: @/old.trm" + overwrite, "chooser 保存 #1 last=@/old.trm"}, ""},
        {"accepted overwrite", true, {"@/old.trm"}, {"@/old.trm"}, {true},
         {"confirm 上書き確認: @/old.trm" + overwrite}, "@/old.trm"},
        {"missing folder", true, {}, {"@/none/beat.trm"}, {},
         {"error ファイル保存エラー: @/none/beat.trm" + save_failed, "error closed ファイル保存エラー"}, ""},
        {"not writable, the old file kept", true, {}, {"/proc/version"}, {true},
         {"confirm 上書き確認: /proc/version" + overwrite, "error ファイル保存エラー: /proc/version" + save_failed,
          "error closed ファイル保存エラー"},
         ""},
        {"export, refused then new", false, {"@/old.mid"}, {"@/old.mid", "@/new.mid"}, {false},
         {"confirm 上書き確認: @/old.mid" + overwrite, "chooser SMF保存 #1 last=@/old.mid"}, "@/new.mid"},
        {"export, missing folder", false, {}, {"@/none/beat.mid"}, {},
         {"error ファイル保存エラー: @/none/beat.mid" + save_failed, "error closed ファイル保存エラー"}, ""},
    };

    window->song.sequence = {0, 1, 0};
    window->song.sprites[1].notes[4].set(38);
    std::ostringstream song_text;
    window->song.write(song_text);
    const std::string old_proc = read_all("/proc/version");

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& file : c.existing)
            std::ofstream(at(file), std::ios::binary) << "old";
        window->set_title("before");
        script_dialogs();
        for (const auto& path : c.paths)
            dialogs->paths.push_back(path ? std::optional<std::string>(at(*path)) : std::nullopt);
        dialogs->answers = c.answers;
        c.save_as ? window->on_save_as() : window->on_export();

        std::vector<std::string> expected = {c.save_as ? "chooser 保存 #1 last=" : "chooser SMF保存 #1 last="};
        expected.insert(expected.end(), c.log.begin(), c.log.end());
        for (std::string& line : expected)
            for (size_t sign; (sign = line.find('@')) != std::string::npos;)
                line.replace(sign, 1, dir);
        EXPECT_EQ(dialogs->log, expected);
        EXPECT_TRUE(dialogs->paths.empty()) << "the chooser was asked fewer times than scripted";

        const std::string written = c.written.empty() ? "" : at(c.written);
        if (!written.empty()) {
            EXPECT_EQ(c.save_as ? read_all(written) : read_all(written).substr(0, 4),
                      c.save_as ? song_text.str() : "MThd");
        }
        for (const std::string& file : c.existing) {
            if (at(file) != written) {
                EXPECT_EQ(read_all(at(file)), "old") << file;
            }
        }
        EXPECT_FALSE(Glib::file_test(at("song.trm"), Glib::FILE_TEST_EXISTS));
        EXPECT_EQ(read_all("/proc/version"), old_proc);
        // Only a saved song names the window.
        EXPECT_EQ(window->get_title(), c.save_as && !written.empty() ? Glib::ustring(written) : "before");
        empty_dir();
    }
}

// A successful Open rebuilds the window for the file's song; a failed one
// shows the two boxes and changes nothing; faulty lines are read past
// without a word; a cancelled chooser does nothing.
TEST_F(FileCommands, Open)
{
    struct Case { const char* what; std::optional<std::string> text; uint64_t sprites; };
    const std::vector<Case> cases = {
        {"missing file", std::string(), 36},
        {"forty sprites", std::nullopt, 40},
        {"faulty lines",
         std::string("bpm: 90\nnonsense line\nsprites: 2\nbeats: 8\nbeat: 9 36\nsprite end\n"
                     "beats: 4\nbeat: 0 200 36\nsprite end\nsequence: 0 5 1\n"),
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = at("case.trm");
        g_remove(path.c_str());
        if (!c.text)
            write_song(path, 40, 150, 36, {39, 0, 7});
        else if (!c.text->empty())
            std::ofstream(path) << *c.text;
        const bool opens = !c.text || !c.text->empty();
        window->set_title("before");
        const std::list<Gtk::Button*> buttons = window->icon_buttons.buttons;
        script_dialogs();
        dialogs->paths = {path};

        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        window->on_open();
        EXPECT_EQ(testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr(), "");

        std::vector<std::string> log = {"chooser 開く #1 last="};
        if (!opens)   // the box stays up until the error dialog, empty here, is answered
            log.insert(log.end(), {"error ファイルオープンエラー: " + path + "のオープンに失敗しました",
                                   "error_text file open error.: ", "error closed ファイルオープンエラー"});
        EXPECT_EQ(dialogs->log, log);
        EXPECT_EQ(window->get_title(), opens ? Glib::ustring(path) : "before");
        EXPECT_EQ(window->song.sprites.size(), c.sprites);
        EXPECT_EQ(window->icon_buttons.buttons.size(), c.sprites);
        EXPECT_EQ(window->sprite_windows.size(), c.sprites);
        if (!opens) {
            EXPECT_EQ(window->icon_buttons.buttons, buttons);
        }
        for (uint64_t i = 0; i < c.sprites; ++i)
            EXPECT_TRUE(application->has_action(sprite_action_name(i))) << i;
        if (c.sprites == 40) {
            EXPECT_EQ(window->bpm_spin.get_value(), 150.0);
            EXPECT_EQ(window->sequence_widgets.size(), 3u);
            EXPECT_EQ(window->cursor_index, -1);
            EXPECT_TRUE(window->icon_buttons.buttons.back()->get_visible());
            window->present_sprite_window(39);
            EXPECT_NE(window->sprite_windows[39], nullptr);
        } else if (opens) {
            EXPECT_EQ(window->bpm_spin.get_value(), 90.0);
            EXPECT_EQ(window->sequence_widgets.size(), 2u);
        }
    }

    script_dialogs();
    window->on_open();
    EXPECT_EQ(dialogs->log, std::vector<std::string>{"chooser 開く #1 last="});
    EXPECT_EQ(window->song.sprites.size(), 2u);
}

// Opening while the player runs: afterwards only the new song's notes sound.
TEST_F(FileCommands, OpenWhilePlayingStaysInsideTheNewSong)
{
    struct Case { const char* what; bool sequence; uint64_t new_sprites; std::list<uint32_t> new_sequence; };
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
        c.sequence ? window->player.start_sequence(window->song) : window->player.start_sprite(window->song, 30);
        stepmill_test::run_main_loop_for(std::chrono::milliseconds(600));   // well into the sequence

        const std::string path = at("small.trm");
        write_song(path, c.new_sprites, 1000, 36, c.new_sequence);
        dialogs->paths = {path};
        window->on_open();
        ASSERT_EQ(window->song.sprites.size(), c.new_sprites);
        platform.sent.clear();
        stepmill_test::run_main_loop_for(std::chrono::milliseconds(600));
        for (const auto& message : platform.sent) {
            if (message.bytes.size() == 3 && message.bytes[0] == 0x99 && message.bytes[2] != 0) {
                EXPECT_EQ(message.bytes[1], 36) << "a note-on of the old song";
            }
        }
        window->player.stop();
    }
}

}  // namespace
