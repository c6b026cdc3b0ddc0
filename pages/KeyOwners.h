// Which page shows a key of the set's files, and whether a value for it passes the checks that
// page makes on what is typed into it: the field tables of the pages and dialogs are the one
// place where a key's range, length and choices are written down.
#pragma once

#include "app/ConfigSet.h"

#include <optional>
#include <string>
#include <string_view>

namespace keyowners {

// The folder key of the folders page that key names in any letter case, or null; one value
// goes into every file that holds a copy of it.
const char* FolderKey(std::string_view key);

// Why value cannot be stored under key of file (the German text, Windows-1252, naming the page
// that shows the key), or nothing when it can: a key no page shows takes any value. A key the
// pages have renamed is refused with the name it has now.
std::optional<std::string> Refusal(CConfigSet& set, std::string_view file, std::string_view key,
                                   std::string_view value);

} // namespace keyowners
