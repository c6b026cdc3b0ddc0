// What a save would write, file by file, against what is on disk now: the preview the sheet
// shows before OK and korvanectl prints for --dry-run. The bytes compared are those the save
// itself would write (TextToSave), never a second rendering of the file.
#pragma once

#include "app/ConfigSet.h"

#include <string>
#include <string_view>
#include <vector>

namespace preview {

struct FileChange {
    enum class State {
        Unchanged,    // the save would write the same bytes
        Changed,      // diff holds the changed lines
        LineEndsOnly, // the same lines, written with CR LF (or a final line end) this time
        Created,      // no file there yet; diff shows every line as added
        Kept,         // the save leaves the file as it is (it could not be read at the load)
        Unreadable,   // the file on disk cannot be read now: no comparison possible
    };
    std::string name; // code page: the file's name in the set, or a list file's path
    std::string path;
    State state = State::Unchanged;
    std::string diff; // unified diff ("\n" lines, code page), empty unless Changed or Created
};

// Compares text, the bytes a save would write to path, with the file there now.
FileChange OfFile(std::string name, const std::string& path, std::string_view text);

// Every file of the set in the order of the save, then the pages' list files that an apply
// would write.
std::vector<FileChange> OfSet(CConfigSet& set);

// "unverändert", "geändert", ... (UTF-8).
const char* StateText(FileChange::State state);

// The whole preview as text for a terminal (code page): each changed file's diff, then one line
// per file that is neither changed nor unchanged (kept, line ends only, unreadable), then the
// journal's entries.
std::string Report(const std::vector<FileChange>& changes, const CJournal& journal);

// Whether any file would change.
bool AnyChange(const std::vector<FileChange>& changes);

} // namespace preview
