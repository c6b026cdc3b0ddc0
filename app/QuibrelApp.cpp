#include "app/QuibrelApp.h"

#include "Common/Ansi.h"
#include "Common/BackupFolder.h"
#include "accounts/AccountStore.h"
#include "app/Merge.h"
#include "app/ServiceControl.h"
#include "app/Strings.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"

#include <cstdio>
#include <future>
#include <system_error>
#include <vector>

namespace {

enum : unsigned {
    kMsgNotAdministrator = 124,
    kMsgAccountListFailed = 108,
};

const char kRelaunchFailed[] = "Fehler: Konfigurationsprogramm konnte nicht gestartet werden. "
                               "Bitte wenden Sie sich an den Hersteller. Code: %d";

// Said once before the load messages, which would otherwise follow one another without a word
// of why every file failed.
const char kConfigVariableUnset[] =
    "Die Umgebungsvariable MAILCONFIGDIR ist nicht gesetzt. Sie nennt das "
    "Konfigurationsverzeichnis des Mailservers, zum Beispiel /etc/korvane.\n\n"
    "Ohne sie kann das Programm keine Konfigurationsdatei laden und nach \"OK\" keine "
    "speichern. Beenden Sie das Programm, setzen Sie MAILCONFIGDIR auf das "
    "Konfigurationsverzeichnis und starten Sie es erneut.";
const char kWaitingForLock[] =
    "Warte auf ein anderes Programm, das die Konfiguration gerade speichert...";
const char kLockTimedOut[] =
    "Ein anderes Programm speichert die Konfiguration schon länger und gibt sie nicht frei. "
    "Es wurde noch nichts gespeichert.\n\nSoll erneut gewartet werden? Mit \"Nein\" gehen "
    "die Änderungen verloren.";
const char kLockBusy[] =
    "Ein anderes Programm speichert die Konfiguration schon länger und gibt sie nicht frei. "
    "Es wurde nichts geändert.";
const char kChangedOnDiskRefused[] =
    "Die Datei \"%s\" wurde seit dem Laden von einem anderen Programm geändert. Damit diese "
    "Änderung nicht verloren geht, wurde nichts gespeichert.";
const char kChangedOnDiskQuestion[] =
    "Die Datei \"%s\" wurde seit dem Laden von einem anderen Programm geändert.\n\nSoll sie "
    "mit Ihren Einstellungen überschrieben werden? Mit \"Nein\" bleibt sie, wie das andere "
    "Programm sie geschrieben hat.";
const char kAliasesUnfiltered[] =
    "Da die Datei \"domains\" nicht gelesen werden konnte, bleiben alle Einträge der Datei "
    "\"aliases\" erhalten, auch die von Domains, die nicht mehr lokal sind.";
const char kNoBackupQuestion[] =
    "Die Sicherungskopien können nicht angelegt werden: \"%s\" ist kein beschreibbares "
    "Verzeichnis.\n\nSoll die Konfiguration trotzdem ohne Sicherungskopien gespeichert werden? "
    "Mit \"Nein\" wird nichts gespeichert, und Ihre Änderungen gehen verloren.";
const char kNoBackupRefused[] =
    "Die Sicherungskopien können nicht angelegt werden: \"%s\" ist kein beschreibbares "
    "Verzeichnis. Es wurde nichts gespeichert.";
const char kRemovalNotRestored[] =
    "Das Postfach eines Kontos wurde nicht gelöscht, weil die Konfiguration nicht gespeichert "
    "wurde, konnte aber nicht an seinen Platz zurück (der Name ist wieder vergeben). Es liegt "
    "unverändert in \"%s\".";
const char kKeptUnreadable[] =
    "Sie konnte beim Start nicht gelesen werden und bleibt deshalb, wie sie ist.";
const char kRemovalNotDeleted[] =
    "Der Ordner \"%s\" eines gelöschten Kontos konnte nicht vollständig gelöscht werden.";
const char kBothChanged[] =
    "Die Datei \"%s\" wurde seit dem Laden von einem anderen Programm geändert. Seine "
    "Änderungen werden übernommen, Ihre bleiben erhalten; nur diese Einträge haben Sie beide "
    "geändert: ";
const char kBothChangedQuestion[] =
    "\n\nSollen dort Ihre Werte gelten? Mit \"Nein\" gelten die des anderen Programms.";
const char kSpoolMissing[] = "Das Spoolverzeichnis \"%s\" ist nicht vorhanden.";
const char kSpoolNoFolder[] = "\"%s\", das Spoolverzeichnis, ist kein Verzeichnis.";
const char kSpoolUnreadable[] =
    "Das Spoolverzeichnis \"%s\" kann nicht gelesen werden (fehlende Berechtigung?).";
const char kOpenedWithoutAccounts[] =
    "Das Programm öffnet trotzdem, damit Sie das Spoolverzeichnis auf der Seite "
    "\"Verzeichnisse\" richtigstellen oder anlegen lassen können. Bis zum nächsten Start zeigt "
    "die Seite \"Domains & Accounts\" keine Konten und ändert keine Adressen, und die Datei "
    "\"aliases\" wird nicht gespeichert, damit keine Adresse verloren geht.";
const char kAliasesKeptUnchecked[] =
    "Sie wurde ohne Kontenliste geladen und bleibt deshalb, wie sie ist.";
const char kConfigVariableNoFolder[] =
    "Die Umgebungsvariable MAILCONFIGDIR nennt kein vorhandenes Verzeichnis: \"%s\".\n\n"
    "Aus diesem Verzeichnis lädt das Programm die Konfiguration des Mailservers. Beenden "
    "Sie das Programm, setzen Sie MAILCONFIGDIR auf das Konfigurationsverzeichnis und starten "
    "Sie es erneut.";

} // namespace

const CQuibrelApp::ServiceRestart CQuibrelApp::kRestarts[5] = {
    {"SMTPd", "Starte den SMTP-Server neu...", 111},
    {"MDAd", "Starte den Mail-Delivery-Agent neu...", 113},
    {"POP3d", "Starte den POP3-Server neu...", 115},
    {"IMAP4d", "Starte den IMAP4-Server neu...", 172},
    {"SYSLOGd", "Starte den SYSLOG-Server neu...", 123},
};

std::string SpoolFailureText(const std::string& spool) {
    const auto status = platform::StatPath(spool);
    if (!status)
        return strings::Literal(kSpoolMissing, spool);
    return strings::Literal(status->isDirectory ? kSpoolUnreadable : kSpoolNoFolder, spool);
}

int RelaunchExecutable(const std::string& path) {
    return platform::StartDetached(path, {}); // the new instance gets no command line at all
}

int RelaunchOwnExecutable() {
    return RelaunchExecutable(platform::OwnExecutablePath());
}

CQuibrelApp::CQuibrelApp(CAppEnvironment environment)
    : m_env(std::move(environment)),
      m_set(m_env.preload && !m_env.preload->m_claimed && !m_env.lockThroughout
                ? m_env.preload->m_set
                : m_ownSet) {
    if (&m_set != &m_ownSet)
        m_env.preload->m_claimed = true; // one run takes it; a later one loads anew
}

AppOutcome CQuibrelApp::Run(std::string_view commandLine) {
    // The switch is the whole command line; "/RunOnce x" starts the normal cycle.
    if (ansi::EqualNoCase(commandLine, "/RunOnce"))
        return Relaunch() ? AppOutcome::Relaunched : AppOutcome::RelaunchFailed;

    // Sockets need no start-up on this platform; the log opens its own per line.

    if (!m_env.isAdministrator() &&
        m_env.prompter.Show(kMsgNotAdministrator, MessageKind::InformationOkCancel) != Answer::Ok)
        return AppOutcome::RefusedRights;

    if (m_env.lockThroughout && !LockThroughout())
        return AppOutcome::SaveRefused;
    LoadSet();
    // The merge with another program's save needs what the load read; the key-value files keep
    // their loaded text, the two lists are copied (a run that asks nobody never merges).
    if (m_env.changedFiles == CAppEnvironment::ChangedFiles::Ask)
        for (CDomainList* list : {&m_set.domains, &m_set.backupDomains})
            m_listBases.emplace(list, *list);

    if (!m_env.sheet.Run(m_set, m_env.prompter)) {
        FinishRemovals(false);
        return AppOutcome::Cancelled;
    }

    const bool saved = SaveSet();
    // The removals' aliases are gone from the disk only when "aliases" was written.
    FinishRemovals(saved && ResultOf(&m_set.aliases) == FileSave::Saved);
    m_runLock.Release(); // the restarts need no lock, and others should not wait for them
    if (!saved)
        return AppOutcome::SaveRefused;
    if (m_env.restartServices)
        RestartServices();
    return AppOutcome::Saved;
}

bool CQuibrelApp::Relaunch() {
    const int error = m_env.relaunch();
    if (error == 0)
        return true;
    char text[sizeof kRelaunchFailed + 16];
    std::snprintf(text, sizeof text, kRelaunchFailed, error);
    m_env.prompter.ShowText(text, MessageKind::Error);
    return false;
}

void CQuibrelApp::CheckConfigDirectory(const std::optional<std::string>& directory,
                                       CPrompter& prompter) {
    if (!directory) {
        prompter.ShowText(strings::Literal(kConfigVariableUnset), MessageKind::Error);
        return;
    }
    const auto status = platform::StatPath(*directory);
    if (!directory->empty() && status && status->isDirectory)
        return;
    prompter.ShowText(strings::Literal(kConfigVariableNoFolder, *directory), MessageKind::Error);
}

bool CQuibrelApp::LockDirectory(platform::DirectoryLock& lock, const std::string& directory,
                                platform::DirectoryLock::Mode mode) {
    if (lock.Acquire(directory, mode, std::chrono::milliseconds(0)))
        return true;
    CProgressScope progress(m_env.prompter, strings::Literal(kWaitingForLock));
    return lock.Acquire(directory, mode, m_env.lockTimeout);
}

bool CQuibrelApp::LockThroughout() {
    const auto directory = platform::GetEnvironment(m_env.configVariable);
    if (!directory || directory->empty() ||
        LockDirectory(m_runLock, *directory, platform::DirectoryLock::Mode::Exclusive))
        return true;
    if (!m_runLock.TimedOut())
        return true; // a directory that cannot be opened fails at its files, as without the lock
    m_env.prompter.ShowText(strings::Literal(kLockBusy), MessageKind::Error);
    return false;
}

void CQuibrelApp::LoadSet() {
    if (&m_set != &m_ownSet && m_env.preload->Take()) {
        for (const PromptMessage& message : m_env.preload->m_messages.Shown())
            m_env.prompter.ShowMessage(message);
        m_keepOnDisk = m_env.preload->m_keepOnDisk;
        m_aliasesLoadedVersion = m_set.aliases.GetVersion();
        return;
    }
    const auto directory = platform::GetEnvironment(m_env.configVariable);
    CheckConfigDirectory(directory, m_env.prompter);
    // A save by another program is waited for, so that the set is not read half old, half
    // new. Should that program keep the lock, the set is read anyway: reading breaks nothing.
    platform::DirectoryLock lock;
    if (directory && !directory->empty() && !m_runLock.IsHeld())
        (void)LockDirectory(lock, *directory, platform::DirectoryLock::Mode::Shared);
    LoadFiles(m_set, m_env.prompter, directory, m_keepOnDisk);
    m_aliasesLoadedVersion = m_set.aliases.GetVersion();
}

void CQuibrelApp::LoadFiles(CConfigSet& set, CPrompter& prompter,
                            const std::optional<std::string>& directory,
                            std::array<bool, CConfigSet::kFileCount>& keepOnDisk) {
    auto files = set.Files();
    // The files loaded after the account list ("aliases" above all, the largest of a provider's
    // set) are read from the disk on a second thread while the spool is listed; their content
    // is taken in order as before. Without a second thread they are read as they are loaded.
    std::future<std::vector<textfile::CReadAhead>> ahead;
    if (directory) {
        std::vector<std::string> paths;
        for (std::size_t i = CConfigSet::kAccountListAfter; i < files.size(); ++i)
            paths.push_back(PathJoin(*directory, files[i].name));
        try {
            ahead = std::async(std::launch::async, [paths = std::move(paths)] {
                std::vector<textfile::CReadAhead> read;
                for (const std::string& path : paths)
                    read.push_back(textfile::ReadAhead(path));
                return read;
            });
        } catch (const std::system_error&) {
        }
    }
    std::vector<textfile::CReadAhead> aheadFiles;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i == CConfigSet::kAccountListAfter) {
            // The alias filter needs the accounts, so the list is built before "aliases". The
            // watch is a courtesy to the services; nothing depends on it arming.
            const std::string spool = SpoolDirectory(set.mdad);
            (void)set.users.StartWatch(spool);
            const bool listed = set.users.Refresh(spool);
            if (ahead.valid()) {
                try {
                    aheadFiles = ahead.get();
                } catch (const std::exception&) {
                    aheadFiles.clear(); // read again below, one by one
                }
            }
            if (!listed) {
                // The sheet opens all the same: the spool is set on its own Folders page, and
                // a new installation may simply not have it yet. Only "aliases" needs the
                // list, to drop addresses of accounts that are gone; without it every mailbox
                // would seem gone, so the file is loaded unchecked and not written back.
                set.aliasesUnchecked = true;
                prompter.ShowMessage({kMsgAccountListFailed,
                                      strings::Text(kMsgAccountListFailed) + " " +
                                          SpoolFailureText(spool) + "\n\n" +
                                          strings::Literal(kOpenedWithoutAccounts),
                                      MessageKind::Error});
            }
        }
        const CConfigSet::File& file = files[i];
        if (file.map == &set.aliases) {
            // Without a "domains" list that names domains, the filter would take every address
            // out of "aliases", and the save would write the file without them.
            const bool domainsRead = !set.LoadFailed(&set.domains);
            set.aliases.SetDomainFilter(domainsRead && !set.domains.IsEmpty());
            set.aliases.SetAccountFilter(!set.aliasesUnchecked);
            if (!domainsRead && directory)
                prompter.ShowText(strings::Literal(kAliasesUnfiltered), MessageKind::Warning);
        }
        if (!directory) {
            // Without the variable nothing is bound, as if every file were missing.
            set.MarkLoadFailed(file.Object());
            if (file.loadFailed != 0)
                prompter.Show(file.loadFailed, MessageKind::Error);
            continue;
        }
        const std::string path = PathJoin(*directory, file.name);
        const std::size_t aheadAt = i - CConfigSet::kAccountListAfter;
        const bool loaded = i >= CConfigSet::kAccountListAfter && aheadAt < aheadFiles.size()
                                ? file.Load(path, std::move(aheadFiles[aheadAt]))
                                : file.Load(path);
        if (loaded)
            continue;
        keepOnDisk[i] = platform::StatPath(path).has_value();
        set.MarkLoadFailed(file.Object());
        if (file.loadFailed != 0)
            prompter.Show(file.loadFailed, MessageKind::Error);
    }
}

CSetPreload::CSetPreload(const char* configVariable) {
    // The variable is read here, before the toolkit starts and might change the environment
    // while the thread reads.
    auto directory = platform::GetEnvironment(configVariable);
    try {
        m_loaded = std::async(std::launch::async,
                              [this, directory = std::move(directory)] { return Load(directory); });
    } catch (const std::system_error&) {
        // no second thread: the run loads the set itself
    }
}

CSetPreload::~CSetPreload() {
    if (m_loaded.valid())
        m_loaded.wait();
}

bool CSetPreload::Load(const std::optional<std::string>& directory) {
    platform::DirectoryLock lock;
    if (directory && !directory->empty() &&
        !lock.Acquire(*directory, platform::DirectoryLock::Mode::Shared,
                      std::chrono::milliseconds(0)) &&
        lock.TimedOut())
        return false; // another program is saving: the run waits for it, and tells the user
    CQuibrelApp::CheckConfigDirectory(directory, m_messages);
    CQuibrelApp::LoadFiles(m_set, m_messages, directory, m_keepOnDisk);
    return true;
}

bool CSetPreload::Running() const {
    return m_loaded.valid() &&
           m_loaded.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

bool CSetPreload::Take() {
    return m_loaded.valid() && m_loaded.get();
}

bool CQuibrelApp::SaveSet() {
    const auto directory = platform::GetEnvironment(m_env.configVariable);
    // Saves of the set are one at a time, across programs; whether a file changed since the
    // load is looked at under the same lock, so that no save slips in between.
    platform::DirectoryLock lock;
    if (directory && !directory->empty() && !m_runLock.IsHeld()) {
        while (!LockDirectory(lock, *directory, platform::DirectoryLock::Mode::Exclusive)) {
            if (!lock.TimedOut())
                break; // a directory that cannot be opened fails at its files, as before
            if (m_env.prompter.ShowText(strings::Literal(kLockTimedOut), MessageKind::Question) !=
                Answer::Yes)
                return false;
        }
    }
    auto files = m_set.Files();
    std::array<bool, CConfigSet::kFileCount> keep = m_keepOnDisk;
    for (std::size_t i = 0; i < files.size(); ++i)
        keep[i] = keep[i] || (m_set.aliasesUnchecked && files[i].map == &m_set.aliases);
    bool refused = false;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (keep[i] || !files[i].ChangedOnDisk())
            continue;
        if (m_env.changedFiles == CAppEnvironment::ChangedFiles::Refuse) {
            m_env.prompter.ShowText(strings::Literal(kChangedOnDiskRefused, files[i].name),
                                    MessageKind::Error);
            refused = true;
        } else if (!TakeOverTheirChanges(files[i]) &&
                   m_env.prompter.AskDefaultNo(
                       strings::Literal(kChangedOnDiskQuestion, files[i].name)) != Answer::Yes) {
            keep[i] = true;
        }
    }
    if (refused)
        return false;
    // Without the variable there is nowhere sensible for backups; every save then fails
    // with its message because no file was ever bound.
    const std::string backups = directory ? PathJoin(*directory, "backup.cfg") : std::string();
    if (directory) {
        (void)platform::MakeDirectory(backups); // usually exists already
        // A save without its copy cannot be taken back; that is the user's decision, or for a
        // run that asks nobody, a refusal.
        const auto folder = platform::StatPath(*directory);
        if (folder && folder->isDirectory && !platform::IsWritableDirectory(backups)) {
            if (m_env.changedFiles == CAppEnvironment::ChangedFiles::Refuse) {
                m_env.prompter.ShowText(strings::Literal(kNoBackupRefused, backups),
                                        MessageKind::Error);
                return false;
            }
            if (m_env.prompter.AskDefaultNo(strings::Literal(kNoBackupQuestion, backups)) !=
                Answer::Yes)
                return false;
        }
    }
    // The copies of this save share one moment of the backup history.
    const std::string moment = backups.empty() ? std::string() : backupfolder::NewMoment(backups);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const CConfigSet::File& file = files[i];
        if (m_set.aliasesUnchecked && file.map == &m_set.aliases) {
            // Untouched, there is nothing to say; a change made on it cannot be written.
            const bool changed = m_set.aliases.GetVersion() != m_aliasesLoadedVersion ||
                                 !m_set.pendingRemovals.empty();
            m_saveResults[i] = changed ? FileSave::Kept : FileSave::NotSaved;
            if (changed)
                ShowSaveFailure(file, strings::Literal(kAliasesKeptUnchecked));
            continue;
        }
        if (keep[i] && !m_keepOnDisk[i]) {
            m_saveResults[i] = FileSave::Kept; // the user keeps what the other program wrote
            continue;
        }
        if (m_keepOnDisk[i]) {
            m_saveResults[i] = FileSave::Kept;
            std::string cause = platform::WriteFailureCause(file.Path(), 0);
            ShowSaveFailure(file, cause + (cause.empty() ? "" : " ") +
                                      strings::Literal(kKeptUnreadable));
            continue;
        }
        if (file.Save(backups.empty() ? std::string() : PathJoin(backups, file.name), moment)) {
            m_saveResults[i] = FileSave::Saved;
            continue;
        }
        const int error = platform::LastError();
        m_saveResults[i] = FileSave::Failed;
        ShowSaveFailure(file, directory ? platform::WriteFailureCause(file.Path(), error)
                                        : std::string());
    }
    return true;
}

bool CQuibrelApp::TakeOverTheirChanges(const CConfigSet::File& file) {
    // The base is what the load read; without it (the list of a run that asks nobody) or without
    // the other program's file (it removed it) there is nothing to merge with.
    if (file.list) {
        const auto base = m_listBases.find(file.list);
        CStorableList theirs;
        if (base == m_listBases.end() || !theirs.Load(file.list->GetPath()))
            return false;
        merge::IntoList(*file.list, base->second, theirs);
        file.list->SetModified();
        return true;
    }
    CConfigMap base;
    CConfigMap theirs;
    const auto loaded = file.map->LoadedText();
    if ((loaded && !base.LoadFromText(loaded)) || !theirs.Load(file.map->GetPath()))
        return false;
    const std::vector<std::string> both = merge::Conflicts(*file.map, base, theirs);
    bool theirsWin = false;
    if (!both.empty()) {
        constexpr std::size_t kNamed = 10;
        std::string text = strings::Literal(kBothChanged, file.name);
        for (std::size_t i = 0; i < both.size() && i < kNamed; ++i)
            text += (i ? ", \"" : "\"") + both[i] + "\"";
        text += both.size() > kNamed ? ", ..." : ".";
        text += strings::Literal(kBothChangedQuestion);
        theirsWin = m_env.prompter.AskDefaultNo(text) != Answer::Yes;
    }
    merge::IntoMap(*file.map, base, theirs, theirsWin);
    file.map->SetModified();
    return true;
}

CQuibrelApp::FileSave CQuibrelApp::ResultOf(const void* object) {
    const auto files = m_set.Files();
    for (std::size_t i = 0; i < files.size(); ++i)
        if (files[i].Object() == object)
            return m_saveResults[i];
    return FileSave::NotSaved;
}

void CQuibrelApp::ShowSaveFailure(const CConfigSet::File& file, const std::string& cause) {
    std::string text = strings::Text(file.saveFailed);
    if (!cause.empty())
        text += " " + cause;
    m_env.prompter.ShowMessage({file.saveFailed, text, MessageKind::Error});
}

void CQuibrelApp::FinishRemovals(bool saved) {
    CAccountStore store(m_set.mdad);
    for (const CConfigSet::PendingRemoval& removal : m_set.pendingRemovals) {
        if (saved ? store.DiscardAccount(removal.aside)
                  : store.RestoreAccount(removal.aside, removal.account))
            continue;
        m_env.prompter.ShowText(
            strings::Literal(saved ? kRemovalNotDeleted : kRemovalNotRestored, removal.aside),
            MessageKind::Warning);
    }
    m_set.pendingRemovals.clear();
}

void CQuibrelApp::RestartServices() {
    RestartRunningServices(m_env.services, m_env.prompter, m_env.sleepMs);
}

void RestartRunningServices(platform::ServiceManager& services, CPrompter& prompter,
                            const std::function<void(unsigned ms)>& sleepMs) {
    for (const CQuibrelApp::ServiceRestart& restart : CQuibrelApp::kRestarts) {
        if (!IsServiceRunning(services, restart.service))
            continue; // a stopped service stays stopped
        CProgressScope progress(prompter, ansi::FromUtf8(restart.progressText));
        if (!RequestServiceRestart(services, restart.service))
            prompter.Show(restart.failureMessage, MessageKind::Error);
        sleepMs(250);
    }
}
