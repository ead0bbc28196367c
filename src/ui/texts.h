// The user interface's fixed texts, held in UTF-8.
#pragma once

#include <glibmm/ustring.h>

#include <cstdint>

namespace stepmill {

// The short name of sprite i: "0"-"9", "a"-"z", "A"-"Z", then decimal from 62.
Glib::ustring sprite_label(uint64_t i);

}  // namespace stepmill
