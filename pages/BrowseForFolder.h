// The folder picker as the pages use it: a prompt from the string table, and only a folder
// that the services can find again from any working directory is taken.
#pragma once

#include "app/Prompter.h"

#include <string>
#include <string_view>

// Whether path names a folder independently of a working directory: "/..." on POSIX, a drive
// "X:\..." (or "X:/...") or a share "\\server\..." in the suite's Windows files.
bool IsAbsoluteFolderPath(std::string_view path);

// Opens the picker with the text of promptId as its prompt, starting at target. A chosen
// absolute folder is stored into target and true returned; a cancelled picker, a missing
// prompt text or a folder given relative to somewhere leave target unchanged and give false.
bool BrowseForFolder(CPrompter& prompter, std::string& target, unsigned promptId);
