// The backup copies in "backup.cfg" as a history of saves: each moment's copies compared with
// today's files, restored (a restore is a save of its own, whose copies of today's files can
// restore the state before it), and pruned. Shared by the sheet's window and korvanectl.
#pragma once

#include "Common/BackupFolder.h"
#include "app/Prompter.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace backups {

// The folder of copies of the configuration directory.
std::string FolderOf(const std::string& configDir);

// Where a copy of the file name is restored to: the configuration directory.
std::string TargetOf(const std::string& configDir, const std::string& name);

// The moment with id in listing, or null.
const backupfolder::Moment* Find(const backupfolder::Listing& listing, const std::string& id);

// The unified diff of today's file against the copy (what a restore of it would change), code
// page; empty when they hold the same lines. unreadable is set when either cannot be read.
std::string DiffWithToday(const std::string& configDir, const backupfolder::Moment& moment,
                          const backupfolder::Copy& copy, bool* unreadable = nullptr);

// A hash of today's file (0 for a missing or unreadable one), for the check that the file a
// user looked at is still the one a restore replaces.
std::uint64_t TodaysHash(const std::string& configDir, const std::string& name);
// Whether the copy holds exactly today's file (false when either cannot be read or the file
// is missing).
bool SameAsToday(const std::string& configDir, const backupfolder::Copy& copy);

struct RestoreOptions {
    std::vector<std::string> files; // the file names to restore; empty: every copy of the moment
    bool dryRun = false;
    std::chrono::milliseconds lockTimeout{10000};
    // TodaysHash of the files as the user saw them; a file that changed since is not restored.
    std::map<std::string, std::uint64_t> expected;
};
struct RestoreResult {
    enum class Outcome { Restored, NothingToDo, Refused, Failed } outcome = Outcome::Refused;
    std::vector<std::string> restored;  // the files written (or, in a dry run, to be written)
    std::vector<std::string> unchanged; // already as in the copy
    std::string moment;                 // the moment of today's copies taken first
    std::string diff;                   // in a dry run: what would change
};
// Restores the copies of moment into the configuration directory as one save: under the
// directory's lock, after a copy of each of today's files it replaces, each written atomically.
// Either every chosen file is restored or none: a write that fails puts back the files written
// before it. Every refusal and failure is told through prompter (German); nothing is said on
// success. The services are not restarted here.
RestoreResult Restore(const std::string& configDir, const backupfolder::Moment& moment,
                      const RestoreOptions& options, CPrompter& prompter);

struct PruneOptions {
    std::optional<std::size_t> keep;       // keep the newest N moments
    std::optional<unsigned> olderThanDays; // remove moments older than this
    bool dryRun = false;
    std::int64_t now = 0; // seconds since 1970
};
struct PruneResult {
    std::vector<std::string> removed; // moment ids, newest first
    std::vector<std::string> failed;  // copies that could not be deleted
    std::uint64_t bytes = 0;          // the size of the removed copies
};
// The moments to remove: beyond the newest keep ones and, when both are given, also older than
// olderThanDays (so that both limits keep what either keeps). The newest moment always stays.
PruneResult Prune(const backupfolder::Listing& listing, const PruneOptions& options);
// Deletes the copies of the moments with the given ids; the newest moment is never deleted.
PruneResult Delete(const backupfolder::Listing& listing, const std::vector<std::string>& ids);

} // namespace backups
