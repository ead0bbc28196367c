#include "file_replace.h"

#include <giomm/file.h>
#include <giomm/init.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <sys/stat.h>

bool replace_file_contents(const std::string& path, const std::string& bytes, std::string& error)
{
    // Only ever replace regular files: a device or a folder is never swapped
    // for a file of ours.
    struct stat info;
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "Not a regular file";
        return false;
    }
    static std::once_flag gio_ready;
    std::call_once(gio_ready, [] { Gio::init(); });
    try {
        std::string new_etag;
        Gio::File::create_for_path(path)->replace_contents(bytes, "", new_etag);
        return true;
    } catch (const Glib::Error& failure) {
        error = failure.what();
    } catch (const std::exception& failure) {
        error = failure.what();
    }
    return false;
}

bool replace_file_contents(const std::string& path, const std::string& bytes)
{
    std::string ignored;
    return replace_file_contents(path, bytes, ignored);
}
