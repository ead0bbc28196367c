// The recovery file: the song as it was when the program last wrote it
// without a save (every 30 s while it has unsaved changes, and when the
// program is told to end), offered again at the next start.
#pragma once

#include "document.h"

#include <string>

namespace stepmill {

class Recovery {
public:
    // Under $XDG_STATE_HOME/stepmill/ (~/.local/state/stepmill/ by default).
    Recovery();

    const std::string& path() const { return file; }
    bool exists() const;
    // Replaces the file atomically with the song, noting where it belongs.
    bool write(const Document& document, std::string& error) const;
    // Where the recovered song was to be saved (empty: never saved).
    std::string original_path() const;
    void remove() const;

private:
    std::string file;
};

}  // namespace stepmill
