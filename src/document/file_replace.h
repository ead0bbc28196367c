// Replacing a file's contents so that a failure never destroys what was there.
#pragma once

#include <string>

// Writes `bytes` to a new file beside `path` and renames it over `path`.
// False when anything fails (missing or unwritable folder, full disk, a path
// that is not a regular file); the old file, if any, is then untouched and
// `error` tells why, as the system words it.
bool replace_file_contents(const std::string& path, const std::string& bytes, std::string& error);
bool replace_file_contents(const std::string& path, const std::string& bytes);
