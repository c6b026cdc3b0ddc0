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
// that shows the key), or nothing when it can. The checks are the page's: the field tables, with
// numbers written as bare digits, and the rules its code applies to interface and access entries.
// A key the pages have renamed is refused with the name it has now. A key that no page or dialog
// of file reads is refused unless force; removing one (an empty value) is always allowed. The
// folder keys (FolderKey) pass unchecked here: they are checked where they are set.
std::optional<std::string> Refusal(CConfigSet& set, std::string_view file, std::string_view key,
                                   std::string_view value, bool force = false);

} // namespace keyowners
