// Another program's changes to a file of the set, taken over into what this program is about
// to save: a three-way merge with what the load read as the base. A key-value file merges key by
// key, a list file entry by entry; only a key both sides changed, each to its own value, needs a
// decision. The sheet asks about those once per file, "Nein" (keep theirs) the default, and
// about a file the other program removed as a whole. korvanectl merges nothing: it holds the
// set's lock from its load to its save, so only a program that takes no lock can have changed
// a file meanwhile, and it refuses to save over that.
#pragma once

#include "Common/MapEx.h"
#include "Common/StringList.h"

#include <string>
#include <vector>

namespace merge {

// The keys whose value both ours and theirs changed since base, to different values (a key
// that is missing counts as one more value), in the order base and then theirs hold them.
std::vector<std::string> Conflicts(const CMapEx& ours, const CMapEx& base, const CMapEx& theirs);

// Takes into ours what theirs changed since base where ours did not: a new or changed value is
// set, a removed key removed. For the conflicts, theirs is taken when theirsWins, otherwise ours
// stays.
void IntoMap(CMapEx& ours, const CMapEx& base, const CMapEx& theirs, bool theirsWins);

// An entry that theirs added since base is added to ours (at the end, unless ours has it), one
// that theirs removed is removed from ours; what ours added or removed stays so.
void IntoList(CStringListEx& ours, const CStringListEx& base, const CStringListEx& theirs);

} // namespace merge
