// korvanectl backup: the history of saves in "backup.cfg", a moment's differences to today's
// files, its restore and the pruning of old moments.
#include "ctl/Context.h"

#include "Common/BackupFolder.h"
#include "app/BackupHistory.h"
#include "app/QuibrelApp.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/ServiceManager.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <ostream>
#include <thread>

namespace ctl {

namespace {

std::string ConfigDir() {
    return platform::GetEnvironment("MAILCONFIGDIR").value_or("");
}

// The listing, or nothing after the message when the folder cannot be read.
std::optional<backupfolder::Listing> Listing(Context& c) {
    const std::string folder = backups::FolderOf(ConfigDir());
    backupfolder::Listing listing = backupfolder::List(folder);
    if (!listing.readable) {
        if (!platform::StatPath(folder)) {
            c.io.err << "Es gibt noch keine Sicherungen (\"" << Utf8(folder)
                     << "\" ist nicht vorhanden).\n";
            return listing;
        }
        Refuse(c, "Der Ordner der Sicherungen \"" + Utf8(folder) + "\" kann nicht gelesen werden.");
        return std::nullopt;
    }
    return listing;
}

const backupfolder::Moment* FindMoment(Context& c, const backupfolder::Listing& listing) {
    const std::string& id = c.call.args[0];
    const backupfolder::Moment* moment = backups::Find(listing, id);
    if (!moment)
        Refuse(c, "Die Sicherung \"" + id +
                      "\" gibt es nicht; \"korvanectl backup list\" zeigt die vorhandenen.");
    return moment;
}

std::string IsoTime(std::int64_t time) {
    const platform::LocalTime local = platform::ToLocalTime(time);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", local.year, local.month,
                  local.day, local.hour, local.minute, local.second);
    return text;
}

// A whole positive number of at most digits digits, or nothing.
std::optional<unsigned> Count(const std::optional<std::string>& text, std::size_t digits) {
    if (!text || text->empty() || text->size() > digits ||
        text->find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return static_cast<unsigned>(std::strtoul(text->c_str(), nullptr, 10));
}

} // namespace

int BackupList(Context& c) {
    bool failed = false;
    const bool json = WantsJson(c, failed);
    if (failed)
        return kFailed;
    const auto listing = Listing(c);
    if (!listing)
        return kFailed;
    if (json) {
        nlohmann::ordered_json moments = nlohmann::ordered_json::array();
        for (const backupfolder::Moment& moment : listing->moments) {
            nlohmann::ordered_json files = nlohmann::ordered_json::array();
            for (const backupfolder::Copy& copy : moment.copies)
                files.push_back({{"name", Utf8(copy.file)}, {"size", copy.size}});
            moments.push_back(
                {{"id", moment.id}, {"time", IsoTime(moment.time)}, {"files", std::move(files)}});
        }
        nlohmann::ordered_json foreign = nlohmann::ordered_json::array();
        for (const std::string& file : listing->foreign)
            foreign.push_back(Utf8(file));
        PrintJson(c, {{"moments", std::move(moments)}, {"foreign", std::move(foreign)}});
        return kOk;
    }
    for (const backupfolder::Moment& moment : listing->moments) {
        std::uint64_t bytes = 0;
        for (const backupfolder::Copy& copy : moment.copies)
            bytes += copy.size;
        c.io.out << moment.id << "  " << backupfolder::MomentText(moment.id) << "  "
                 << moment.copies.size() << (moment.copies.size() == 1 ? " Datei, " : " Dateien, ")
                 << bytes << " Bytes\n";
        for (const backupfolder::Copy& copy : moment.copies)
            c.io.out << "    " << Utf8(copy.file) << "  " << copy.size << '\n';
    }
    if (!listing->foreign.empty())
        c.io.err << "Hinweis: " << listing->foreign.size()
                 << " Dateien im Ordner der Sicherungen sind keine Sicherungskopien und werden "
                    "nicht beachtet (--format=json nennt sie).\n";
    return kOk;
}

int BackupShow(Context& c) {
    const auto listing = Listing(c);
    const backupfolder::Moment* moment = listing ? FindMoment(c, *listing) : nullptr;
    if (!moment)
        return kFailed;
    const std::optional<std::string> only =
        c.call.args.size() > 1 ? FromArgument(c, c.call.args[1]) : std::nullopt;
    bool found = false;
    int status = kOk;
    for (const backupfolder::Copy& copy : moment->copies) {
        if (only && copy.file != *only)
            continue;
        found = true;
        bool unreadable = false;
        const std::string diff = backups::DiffWithToday(ConfigDir(), *moment, copy, &unreadable);
        if (unreadable) {
            c.io.err << "Fehler: Die Kopie \"" << Utf8(copy.path)
                     << "\" oder die heutige Datei kann nicht gelesen werden.\n";
            status = kFailed;
        } else if (diff.empty()) {
            c.io.out << Utf8(copy.file) << ": wie heute\n";
        } else {
            c.io.out << Utf8(diff);
        }
    }
    if (only && !found)
        return Refuse(c, "Die Sicherung " + moment->id + " enthält keine Kopie von \"" +
                             c.call.args[1] + "\".");
    return status;
}

int BackupRestore(Context& c) {
    const auto listing = Listing(c);
    const backupfolder::Moment* moment = listing ? FindMoment(c, *listing) : nullptr;
    if (!moment)
        return kFailed;
    backups::RestoreOptions options;
    for (std::size_t i = 1; i < c.call.args.size(); ++i) {
        const auto name = FromArgument(c, c.call.args[i]);
        if (!name)
            return kFailed;
        options.files.push_back(*name);
    }
    options.dryRun = c.call.Has("dry-run");
    if (const auto wait = c.call.Value("wait"))
        options.lockTimeout = std::chrono::seconds(std::atoi(wait->c_str()));
    const backups::RestoreResult result =
        backups::Restore(ConfigDir(), *moment, options, c.prompter);
    using Outcome = backups::RestoreResult::Outcome;
    if (result.outcome == Outcome::Refused || result.outcome == Outcome::Failed)
        return kFailed;
    if (result.outcome == Outcome::NothingToDo) {
        c.io.out << "Die Dateien sind schon so, wie die Sicherung " << moment->id
                 << " sie enthält; es wurde nichts geändert.\n";
        return kOk;
    }
    std::string files;
    for (const std::string& file : result.restored)
        files += (files.empty() ? "" : ", ") + Utf8(file);
    if (options.dryRun) {
        c.io.out << Utf8(result.diff);
        c.io.err << "Probelauf, nichts geschrieben: " << files << " würden wiederhergestellt.\n";
        return kOk;
    }
    c.io.out << "Wiederhergestellt aus " << moment->id << ": " << files << ".\n";
    std::string same;
    for (const std::string& file : result.unchanged)
        same += (same.empty() ? "" : ", ") + Utf8(file);
    if (!same.empty())
        c.io.out << "Schon wie in der Sicherung, nicht geschrieben: " << same << ".\n";
    if (!result.moment.empty())
        c.io.out << "Die vorigen Dateien liegen in der Sicherung " << result.moment
                 << "; \"korvanectl backup restore " << result.moment
                 << "\" macht dies rückgängig.\n";
    if (!c.call.Has("no-restart")) {
        auto services = platform::CreateServiceManager();
        RestartRunningServices(*services, c.prompter, [](unsigned ms) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        });
        if (c.prompter.HadError())
            return kSavedWithErrors;
    }
    return kOk;
}

int BackupPrune(Context& c) {
    backups::PruneOptions options;
    const auto keep = c.call.Value("keep");
    const auto older = c.call.Value("older-than");
    if (!keep && !older)
        return Refuse(c, "Geben Sie an, was bleiben soll: --keep=ANZAHL und/oder "
                         "--older-than=TAGE.");
    if (keep) {
        const auto n = Count(keep, 6);
        if (!n || *n == 0)
            return Refuse(c, "--keep braucht eine Anzahl ab 1 (--keep=30).");
        options.keep = *n;
    }
    if (older) {
        const auto days = Count(older, 5);
        if (!days)
            return Refuse(c, "--older-than braucht eine Anzahl von Tagen (--older-than=90).");
        options.olderThanDays = *days;
    }
    options.dryRun = c.call.Has("dry-run");
    options.now = static_cast<std::int64_t>(std::time(nullptr));
    const auto listing = Listing(c);
    if (!listing)
        return kFailed;
    const backups::PruneResult result = backups::Prune(*listing, options);
    for (const std::string& id : result.removed)
        c.io.out << (options.dryRun ? "würde gelöscht: " : "gelöscht: ") << id << "  "
                 << backupfolder::MomentText(id) << '\n';
    for (const std::string& path : result.failed)
        c.io.err << "Fehler: Die Kopie \"" << Utf8(path) << "\" konnte nicht gelöscht werden.\n";
    c.io.out << (options.dryRun ? "Probelauf, nichts gelöscht: " : "") << result.removed.size()
             << (result.removed.size() == 1 ? " Sicherung" : " Sicherungen") << " (" << result.bytes
             << " Bytes)" << (options.dryRun ? " würden gelöscht" : " gelöscht") << ", "
             << listing->moments.size() - result.removed.size() << " bleiben.\n";
    return result.failed.empty() ? kOk : kFailed;
}

} // namespace ctl
