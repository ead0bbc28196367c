// The file commands through the window's dialog seam: scripted answers in
// place of the choosers and message boxes, real files in a temporary folder.
#include "gtk_test.h"

#include <filesystem>

using namespace stepmill_test;

namespace {

// A song of `sprites` sprites, each with `note` on its first beat.
void write_song(const std::string& path, uint64_t sprites, uint64_t bpm, uint8_t note, std::list<uint32_t> sequence)
{
    Song song;
    song.reset_sprites(sprites);
    song.bpm = bpm;
    for (Sprite& sprite : song.sprites) sprite.notes[0].set(note);
    song.sequence = std::move(sequence);
    ASSERT_TRUE(song.write(path));
}

// The window on a song of two sprites, in a folder of the test's own.
class FileCommands : public WindowTest {
protected:
    void SetUp() override { fresh_dir(); }
    void fresh_dir()
    {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directory(dir);
        write_song(dir + "/start.trm", 2, 120, 38, {0, 1, 0});
        open_window(dir + "/start.trm");
    }
    void run(const char* action)
    {
        window->get_action_group("stepmill")->activate_action(action);
        settle();
    }

    const std::string dir = state_dir + "/files";
};

// Save As and Export share their road: chooser, overwrite question, write.
TEST_F(FileCommands, SaveAsAndExportAskWriteAndReport)
{
    const auto asked = [this](const char* name) { return "confirm 上書き確認: " + dir + name + " に上書き保存してもよろしいですか?"; };
    const auto failed = [this](const char* name) {
        return std::vector<std::string>{"error ファイル保存エラー: " + dir + name + " の保存に失敗しました\nError opening file “" +
                                            dir + name + "”: No such file or directory",
                                        "error closed ファイル保存エラー"};
    };
    struct Case {
        const char* what;
        bool save_as;                                    // else Export
        std::vector<std::optional<std::string>> names;   // the chooser's answers, in the folder
        bool overwrite;                                  // the answer to the question, if asked
        std::vector<std::string> log;                    // expected after the chooser's first line
        std::string written;                             // the file that must now hold the song
    };
    const std::vector<Case> cases = {
        {"cancelled", true, {std::nullopt}, false, {}, ""},
        {"new name, no question, no extension added", true, {"/song"}, false, {}, "/song"},
        {"refused overwrite asks again, a new name then saves", true, {"/old.trm", "/new.trm"}, false,
         {asked("/old.trm"), "chooser 保存 #1 last=" + dir + "/old.trm"}, "/new.trm"},
        {"refused overwrite then cancel writes nothing", true, {"/old.trm", std::nullopt}, false,
         {asked("/old.trm"), "chooser 保存 #1 last=" + dir + "/old.trm"}, ""},
        {"accepted overwrite", true, {"/old.trm"}, true, {asked("/old.trm")}, "/old.trm"},
        {"missing folder", true, {"/none/beat.trm"}, false, failed("/none/beat.trm"), ""},
        {"export, refused then new", false, {"/old.mid", "/new.mid"}, false,
         {asked("/old.mid"), "chooser SMF保存 #1 last=" + dir + "/old.mid"}, "/new.mid"},
        {"export, missing folder", false, {"/none/beat.mid"}, false, failed("/none/beat.mid"), ""},
    };

    const std::string song = song_text();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fresh_dir();
        for (const char* old : {"/old.trm", "/old.mid"}) Glib::file_set_contents(dir + old, "old");
        for (const auto& name : c.names) dialogs->paths.push_back(name ? std::optional(dir + *name) : std::nullopt);
        dialogs->answers = {c.overwrite};
        run(c.save_as ? "saveAs" : "Export");

        std::vector<std::string> log = {c.save_as ? "chooser 保存 #1 last=" : "chooser SMF保存 #1 last="};
        log.insert(log.end(), c.log.begin(), c.log.end());
        EXPECT_EQ(dialogs->log, log);
        EXPECT_TRUE(dialogs->paths.empty()) << "the chooser was asked fewer times than scripted";

        const std::string written = c.written.empty() ? "" : dir + c.written;
        if (!written.empty()) {
            const std::string bytes = Glib::file_get_contents(written);
            EXPECT_EQ(c.save_as ? bytes : bytes.substr(0, 4), c.save_as ? song : "MThd");
        }
        for (const char* old : {"/old.trm", "/old.mid"})
            EXPECT_TRUE(dir + old == written || Glib::file_get_contents(dir + old) == "old") << old;
        // Only a saved song names the window.
        EXPECT_EQ(window->get_title(), c.save_as && !written.empty() ? Glib::ustring(written) : program_title);
    }
}

// A successful Open rebuilds the window for the file's song, its tempo
// brought into the control's range, and then shows what the reader skipped;
// a failed one shows the two boxes and changes nothing. The sprite buttons
// and actions are written out apart from the code under test: "0".."9",
// "a".."z", "A".."Z", then numbers.
TEST_F(FileCommands, Open)
{
    const std::string letters = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    struct Case { const char* what; const char* text; uint64_t sprites; double tempo; std::string skipped; };
    const std::vector<Case> cases = {
        {"missing file", nullptr, 2, 120, ""},
        {"63 sprites, tempo 0", "bpm: 0\nsprites: 63\n", 63, 1, ""},
        {"no sprites, tempo 2^32-1", "bpm: 4294967295\nsprites: 0\n", 0, 1000, ""},
        {"faulty lines",
         "bpm: 90\nnonsense line\nsprites: 2\nbeats: 8\nbeat: 9 36\nsprite end\n"
         "beats: 4\nbeat: 0 200 36\nsprite end\nsequence: 0 5 1\n",
         2, 90, "2: illegal command: nonsense line\n5: illegal beat number: 9\n8: illegal note number: 200\n"
                "10: illegal sprite number, skip: 5\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fresh_dir();
        const std::string path = dir + "/case.trm";
        if (c.text) Glib::file_set_contents(path, c.text);
        dialogs->paths = {path};

        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        run("Open");
        EXPECT_EQ(testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr(), "");

        std::vector<std::string> log = {"chooser 開く #1 last="};
        if (!c.text)   // the box stays up until the error dialog, empty here, is answered
            log.insert(log.end(), {"error ファイルオープンエラー: " + path + "のオープンに失敗しました",
                                   "error_text file open error.: ", "error closed ファイルオープンエラー"});
        if (!c.skipped.empty())
            log.push_back("error_text 読み込めなかった行: " + c.skipped);
        EXPECT_EQ(dialogs->log, log);
        EXPECT_EQ(window->get_title(), c.text ? path : std::string(program_title));
        EXPECT_EQ(window->document().song().sprites.size(), c.sprites);
        std::vector<std::string> labels, expected;
        for (Gtk::Button* button : sprite_buttons())
            labels.push_back(button->get_label());
        for (uint64_t i = 0; i < c.sprites; ++i) {
            const std::string label = i < 62 ? std::string(1, letters[i]) : std::to_string(i);
            expected.push_back(label);
            EXPECT_TRUE(application->has_action(i < 10 ? "_" + label : i < 62 ? std::to_string(i) + " _" + label : label));
        }
        EXPECT_EQ(labels, expected);
        // None past the last (a smaller song leaves the start song's two, which present nothing).
        EXPECT_FALSE(application->has_action(sprite_action_name(std::max<uint64_t>(c.sprites, 2))));
        EXPECT_EQ(strip().size(), window->document().song().sequence.size());
        EXPECT_EQ(strip().cursor(), -1);
        EXPECT_EQ(control("beat per minute").get_value(), c.tempo);
        EXPECT_EQ(window->document().song().bpm, uint64_t(c.tempo)) << "one tempo: shown, played, saved";
    }
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
    std::list<uint32_t> backwards;
    for (uint32_t i = 0; i < 36; ++i)
        backwards.push_back(35 - i);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write_song(dir + "/big.trm", 36, 1000, 42, backwards);
        open_window(dir + "/big.trm");
        c.sequence ? play_button().clicked() : editor(30).response(response_play_stop);
        platform.advance(48000 * 3 / 4);   // well into the sequence
        write_song(dir + "/small.trm", c.new_sprites, 1000, 36, c.new_sequence);
        dialogs->paths = {dir + "/small.trm"};
        run("Open");
        ASSERT_EQ(window->document().song().sprites.size(), c.new_sprites);
        settle();
        for (Gtk::Window* w : Gtk::Window::list_toplevels())
            EXPECT_FALSE(dynamic_cast<SpriteWindow*>(w)) << "an editor of the old song is left";
        platform.sent.clear();
        platform.advance(48000);
        for (const auto& message : platform.sent) {
            if (message.bytes.size() == 3 && message.bytes[0] == 0x99 && message.bytes[2] != 0) {
                EXPECT_EQ(message.bytes[1], 36) << "a note-on of the old song";
            }
        }
    }
}

}  // namespace
