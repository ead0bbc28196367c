#include "recovery.h"

#include "file_replace.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <fstream>
#include <sstream>

namespace stepmill {

namespace {

// The first line of the file, a comment to the song reader.
constexpr const char* origin_prefix = "# recovered from: ";

// Read afresh each time (GLib's own answer is fixed at its first call).
std::string state_folder()
{
    const char* state = g_getenv("XDG_STATE_HOME");
    if (state && g_path_is_absolute(state))
        return state;
    return std::string(g_get_home_dir()) + "/.local/state";
}

}  // namespace

Recovery::Recovery() : file(state_folder() + "/stepmill/recovery.trm") {}

bool Recovery::exists() const
{
    return g_file_test(file.c_str(), G_FILE_TEST_IS_REGULAR);
}

bool Recovery::write(const Document& document, std::string& error) const
{
    gchar* folder = g_path_get_dirname(file.c_str());
    g_mkdir_with_parents(folder, 0700);
    g_free(folder);
    std::ostringstream text;
    text << origin_prefix << document.path() << "\r\n";
    document.song().write(text);
    return replace_file_contents(file, text.str(), error);
}

std::string Recovery::original_path() const
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    if (line.rfind(origin_prefix, 0) != 0)
        return "";
    line.erase(0, std::char_traits<char>::length(origin_prefix));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

void Recovery::remove() const
{
    g_unlink(file.c_str());
}

}  // namespace stepmill
