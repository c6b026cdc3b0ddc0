#include "app/BackupHistory.h"

#include "Common/Ansi.h"
#include "Common/MapEx.h"
#include "Common/TextFile.h"
#include "Common/UnifiedDiff.h"
#include "app/Strings.h"
#include "platform/FileLock.h"
#include "platform/FileSystem.h"

#include <algorithm>

namespace backups {

namespace {

const char kLockBusy[] = "Ein anderes Programm speichert die Konfiguration gerade und gibt sie "
                         "nicht frei. Es wurde nichts wiederhergestellt.";
const char kNoCopy[] = "Die Sicherung vom %s enthält keine Kopie von \"%s\". Es wurde nichts "
                       "wiederhergestellt.";
const char kCopyUnreadable[] = "Die Sicherungskopie \"%s\" kann nicht gelesen werden. Es wurde "
                               "nichts wiederhergestellt.";
const char kTargetNoFile[] = "\"%s\" ist keine Datei. Es wurde nichts wiederhergestellt.";
const char kTodayUnreadable[] = "Die Datei \"%s\" kann nicht gelesen werden; ohne ihre "
                                "Sicherungskopie wird sie nicht ersetzt. Es wurde nichts "
                                "wiederhergestellt.";
const char kChangedSince[] = "Die Datei \"%s\" wurde seit der Anzeige von einem anderen Programm "
                             "geändert. Es wurde nichts wiederhergestellt; sehen Sie sich die "
                             "Änderungen erneut an.";
const char kNoBackupFolder[] = "Die Sicherungskopien der heutigen Dateien können nicht angelegt "
                               "werden: \"%s\" ist kein beschreibbares Verzeichnis. Es wurde "
                               "nichts wiederhergestellt.";
const char kBackupFailed[] = "Die Sicherungskopie der heutigen Datei \"%s\" konnte nicht angelegt "
                             "werden. Es wurde nichts wiederhergestellt.";
const char kWriteFailed[] = "Die Datei \"%s\" konnte nicht wiederhergestellt werden.";
const char kRolledBack[] = "Die schon geschriebenen Dateien wurden zurückgesetzt; es wurde nichts "
                           "wiederhergestellt.";
const char kRollbackFailed[] = "Die Datei \"%s\" war schon wiederhergestellt und konnte nicht "
                               "zurückgesetzt werden; ihr früherer Inhalt liegt in \"%s\".";

// What a restore knows about one file before it writes anything.
struct Planned {
    const backupfolder::Copy* copy;
    std::string target;
    platform::LargeString bytes; // the copy's
    bool existed = false;
    platform::LargeString today;
};

} // namespace

std::string FolderOf(const std::string& configDir) {
    return PathJoin(configDir, "backup.cfg");
}

std::string TargetOf(const std::string& configDir, const std::string& name) {
    return PathJoin(configDir, name);
}

const backupfolder::Moment* Find(const backupfolder::Listing& listing, const std::string& id) {
    for (const backupfolder::Moment& moment : listing.moments)
        if (moment.id == id)
            return &moment;
    return nullptr;
}

std::string DiffWithToday(const std::string& configDir, const backupfolder::Moment& moment,
                          const backupfolder::Copy& copy, bool* unreadable) {
    platform::LargeString before, after;
    const std::string target = TargetOf(configDir, copy.file);
    const bool missing = !platform::StatPath(target).has_value();
    const bool read = platform::ReadWholeFile(copy.path, after) &&
                      (missing || platform::ReadWholeFile(target, before));
    if (unreadable)
        *unreadable = !read;
    if (!read)
        return {};
    return textdiff::Unified(std::string_view(before.data(), before.size()),
                             std::string_view(after.data(), after.size()),
                             copy.file + (missing ? " (fehlt jetzt)" : " (jetzt)"),
                             copy.file + " (Sicherung vom " + backupfolder::MomentText(moment.id) +
                                 ")");
}

std::uint64_t TodaysHash(const std::string& configDir, const std::string& name) {
    platform::LargeString text;
    if (!platform::ReadWholeFile(TargetOf(configDir, name), text))
        return 0;
    return textfile::ContentHash(std::string_view(text.data(), text.size()));
}

bool SameAsToday(const std::string& configDir, const backupfolder::Copy& copy) {
    platform::LargeString today, copied;
    const std::string target = TargetOf(configDir, copy.file);
    const auto status = platform::StatPath(target);
    return status && !status->isDirectory && status->size == copy.size &&
           platform::ReadWholeFile(target, today) && platform::ReadWholeFile(copy.path, copied) &&
           std::string_view(today.data(), today.size()) ==
               std::string_view(copied.data(), copied.size());
}

RestoreResult Restore(const std::string& configDir, const backupfolder::Moment& moment,
                      const RestoreOptions& options, CPrompter& prompter) {
    RestoreResult result;
    const auto refuse = [&](const char* text, std::initializer_list<std::string_view> args) {
        prompter.ShowText(strings::Literal(text, args), MessageKind::Error);
        result.outcome = RestoreResult::Outcome::Refused;
        return result;
    };
    const std::string when = ansi::FromUtf8(backupfolder::MomentText(moment.id));
    std::vector<const backupfolder::Copy*> chosen;
    if (options.files.empty()) {
        for (const backupfolder::Copy& copy : moment.copies)
            chosen.push_back(&copy);
    } else {
        for (const std::string& name : options.files) {
            const auto it =
                std::find_if(moment.copies.begin(), moment.copies.end(),
                             [&](const backupfolder::Copy& c) { return c.file == name; });
            if (it == moment.copies.end())
                return refuse(kNoCopy, {when, name});
            chosen.push_back(&*it);
        }
    }
    // Nobody else saves while the files are compared, copied and written; a dry run reads only.
    platform::DirectoryLock lock;
    if (!options.dryRun &&
        !lock.Acquire(configDir, platform::DirectoryLock::Mode::Exclusive, options.lockTimeout) &&
        lock.TimedOut())
        return refuse(kLockBusy, {});
    std::vector<Planned> plan;
    for (const backupfolder::Copy* copy : chosen) {
        Planned p{copy, TargetOf(configDir, copy->file), {}, false, {}};
        // A copy is a plain file the program wrote; a link in its place is not restored from.
        if (platform::QueryPathKind(copy->path) != platform::PathKind::File ||
            !platform::ReadWholeFile(copy->path, p.bytes))
            return refuse(kCopyUnreadable, {copy->path});
        const platform::PathKind kind = platform::QueryPathKind(p.target);
        const auto status = platform::StatPath(p.target);
        if (kind == platform::PathKind::Directory || (status && status->isDirectory) ||
            kind == platform::PathKind::Other)
            return refuse(kTargetNoFile, {p.target});
        p.existed = kind != platform::PathKind::Missing;
        if (p.existed && !platform::ReadWholeFile(p.target, p.today))
            return refuse(kTodayUnreadable, {p.target});
        const std::string_view today(p.today.data(), p.today.size());
        if (const auto seen = options.expected.find(copy->file);
            seen != options.expected.end() &&
            seen->second != (p.existed ? textfile::ContentHash(today) : 0))
            return refuse(kChangedSince, {p.target});
        if (p.existed && today == std::string_view(p.bytes.data(), p.bytes.size())) {
            result.unchanged.push_back(copy->file);
            continue;
        }
        plan.push_back(std::move(p));
    }
    for (const Planned& p : plan)
        result.restored.push_back(p.copy->file);
    if (plan.empty()) {
        result.outcome = RestoreResult::Outcome::NothingToDo;
        return result;
    }
    if (options.dryRun) {
        for (const Planned& p : plan)
            result.diff +=
                textdiff::Unified(std::string_view(p.today.data(), p.today.size()),
                                  std::string_view(p.bytes.data(), p.bytes.size()),
                                  p.copy->file + (p.existed ? " (jetzt)" : " (fehlt jetzt)"),
                                  p.copy->file + " (Sicherung vom " + when + ")");
        result.outcome = RestoreResult::Outcome::Restored;
        return result;
    }
    // Today's files are copied first, as one moment, so that the restore can be undone.
    const std::string folder = FolderOf(configDir);
    (void)platform::MakeDirectory(folder);
    if (!platform::IsWritableDirectory(folder))
        return refuse(kNoBackupFolder, {folder});
    result.moment = backupfolder::NewMoment(folder);
    for (const Planned& p : plan) {
        if (!p.existed)
            continue;
        textfile::CBoundFile file;
        file.Bind(p.target);
        if (!file.MakeBackup(PathJoin(folder, p.copy->file), result.moment))
            return refuse(kBackupFailed, {p.target});
    }
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const Planned& p = plan[i];
        if (platform::WriteFileAtomic(p.target, std::string_view(p.bytes.data(), p.bytes.size())))
            continue;
        const int error = platform::LastError();
        std::string text = strings::Literal(kWriteFailed, {p.target});
        if (const std::string cause = platform::WriteFailureCause(p.target, error); !cause.empty())
            text += " " + cause;
        bool rolledBack = true;
        for (std::size_t j = 0; j < i; ++j) {
            const Planned& done = plan[j];
            const bool back =
                done.existed
                    ? platform::WriteFileAtomic(
                          done.target, std::string_view(done.today.data(), done.today.size()))
                    : platform::RemoveFile(done.target);
            if (!back) {
                rolledBack = false;
                text += "\n" +
                        strings::Literal(
                            kRollbackFailed,
                            {done.target, PathJoin(folder, done.copy->file + "-" + result.moment)});
            }
        }
        if (rolledBack)
            text += " " + strings::Literal(kRolledBack);
        prompter.ShowText(text, MessageKind::Error);
        result.outcome = RestoreResult::Outcome::Failed;
        return result;
    }
    result.outcome = RestoreResult::Outcome::Restored;
    return result;
}

namespace {

PruneResult RemoveMoments(const std::vector<const backupfolder::Moment*>& moments, bool dryRun) {
    PruneResult result;
    for (const backupfolder::Moment* moment : moments) {
        result.removed.push_back(moment->id);
        for (const backupfolder::Copy& copy : moment->copies) {
            result.bytes += copy.size;
            if (!dryRun && !platform::RemoveFile(copy.path))
                result.failed.push_back(copy.path);
        }
    }
    return result;
}

} // namespace

PruneResult Prune(const backupfolder::Listing& listing, const PruneOptions& options) {
    std::vector<const backupfolder::Moment*> doomed;
    const std::int64_t limit =
        options.olderThanDays ? options.now - std::int64_t{*options.olderThanDays} * 86400 : 0;
    for (std::size_t i = 1; i < listing.moments.size(); ++i) {
        const backupfolder::Moment& moment = listing.moments[i];
        const bool beyondKeep = !options.keep || i >= *options.keep;
        const bool old = !options.olderThanDays || moment.time < limit;
        if ((options.keep || options.olderThanDays) && beyondKeep && old)
            doomed.push_back(&moment);
    }
    return RemoveMoments(doomed, options.dryRun);
}

PruneResult Delete(const backupfolder::Listing& listing, const std::vector<std::string>& ids) {
    std::vector<const backupfolder::Moment*> doomed;
    for (std::size_t i = 1; i < listing.moments.size(); ++i)
        if (std::find(ids.begin(), ids.end(), listing.moments[i].id) != ids.end())
            doomed.push_back(&listing.moments[i]);
    return RemoveMoments(doomed, false);
}

} // namespace backups
