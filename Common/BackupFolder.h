// The folder of backup copies ("backup.cfg"): a copy of file NAME taken before a save is named
// NAME-yymmdd-hhmmss, in local time; when that name is taken, NAME-yymmdd-hhmmss-2, -3 and so
// on. All copies of one save share one such stamp, so the copies group into save moments by
// their stamp alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace backupfolder {

// A copy's name taken apart: the file it is a copy of and its moment ("yymmdd-hhmmss" with
// "-N" behind it for a later moment of the same second).
struct CopyName {
    std::string file;
    std::string moment;
};
std::optional<CopyName> ParseCopyName(std::string_view name);

// Whether suffix is "-yymmdd-hhmmss" with an optional "-N" behind it.
bool IsMomentSuffix(std::string_view suffix);

// The moment's time as seconds since 1970 (taken as local time), or nothing for a stamp
// that names no valid time.
std::optional<std::int64_t> MomentTime(std::string_view moment);
// "09.12.2026 14:03:07", with " (2)" for a later moment of the same second.
std::string MomentText(std::string_view moment);
// Orders moments by time, a later moment of the same second after the earlier one.
bool MomentBefore(std::string_view a, std::string_view b);

// A moment for a save that is about to copy files into folder: the local time now, with a
// number behind it higher than any moment of that second in the folder. One moment for all the
// copies of a save lets the history group them by save, and the number keeps the second of
// two quick commands from replacing the first one's copies: the state before the first is
// never lost. Also removes the temporary files of copies a killed save left there (of
// earlier seconds too).
std::string NewMoment(const std::string& folder);

// The newest copy of file in folder (its full path), or nothing. For the moment the last
// NewMoment of this thread chose for folder, the answer is what that listing found (copies
// made meanwhile by another program are not seen), without listing the folder again.
std::optional<std::string> NewestCopy(const std::string& folder, std::string_view file,
                                      std::string_view moment = {});

struct Copy {
    std::string file; // the name of the file it is a copy of
    std::string path;
    std::uint64_t size = 0;
};
struct Moment {
    std::string id; // "yymmdd-hhmmss" or "yymmdd-hhmmss-N"
    std::int64_t time = 0;
    std::vector<Copy> copies; // by file name
};
struct Listing {
    bool readable = false;            // the folder could be listed
    std::vector<Moment> moments;      // newest first
    std::vector<std::string> foreign; // names that are no copy (shown, never touched)
};
// The copies in folder grouped by moment. There is no index file: the history is what the
// names say, so copies taken by hand or by older versions show up too. (Copies written before
// a save shared one stamp among its files have a stamp each; a save of theirs that crossed a
// second shows as two moments. Guessing which belong together would merge real saves of
// different files as well.)
Listing List(const std::string& folder);

} // namespace backupfolder
