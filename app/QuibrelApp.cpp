#include "app/QuibrelApp.h"

#include "Common/Ansi.h"
#include "accounts/AccountStore.h"
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

int RelaunchOwnExecutable() {
    const std::string self = platform::OwnExecutablePath();
    return platform::StartDetached(self, {self});
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
    if (!LoadSet())
        return AppOutcome::NoAccountList;

    if (!m_env.sheet.Run(m_set, m_env.prompter))
        return AppOutcome::Cancelled;

    const bool saved = SaveSet();
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

void CQuibrelApp::CheckConfigDirectory(const std::optional<std::string>& directory) {
    if (!directory) {
        m_env.prompter.ShowText(strings::Literal(kConfigVariableUnset), MessageKind::Error);
        return;
    }
    const auto status = platform::StatPath(*directory);
    if (!directory->empty() && status && status->isDirectory)
        return;
    m_env.prompter.ShowText(strings::Literal(kConfigVariableNoFolder, *directory),
                            MessageKind::Error);
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

bool CQuibrelApp::LoadSet() {
    const auto directory = platform::GetEnvironment(m_env.configVariable);
    CheckConfigDirectory(directory);
    // A save by another program is waited for, so that the set is not read half old, half
    // new. Should that program keep the lock, the set is read anyway: reading breaks nothing.
    platform::DirectoryLock lock;
    if (directory && !directory->empty() && !m_runLock.IsHeld())
        (void)LockDirectory(lock, *directory, platform::DirectoryLock::Mode::Shared);
    auto files = m_set.Files();
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
            const std::string spool = SpoolDirectory(m_set.mdad);
            (void)m_set.users.StartWatch(spool);
            const bool listed = m_set.users.Refresh(spool);
            if (ahead.valid()) {
                try {
                    aheadFiles = ahead.get();
                } catch (const std::exception&) {
                    aheadFiles.clear(); // read again below, one by one
                }
            }
            if (!listed) {
                m_env.prompter.Show(kMsgAccountListFailed, MessageKind::Error);
                return false;
            }
        }
        const CConfigSet::File& file = files[i];
        if (!directory) {
            // Without the variable nothing is bound, as if every file were missing.
            m_set.MarkLoadFailed(file.Object());
            if (file.loadFailed != 0)
                m_env.prompter.Show(file.loadFailed, MessageKind::Error);
            continue;
        }
        const std::string path = PathJoin(*directory, file.name);
        const std::size_t aheadAt = i - CConfigSet::kAccountListAfter;
        const bool loaded = i >= CConfigSet::kAccountListAfter && aheadAt < aheadFiles.size()
                                ? file.Load(path, std::move(aheadFiles[aheadAt]))
                                : file.Load(path);
        if (loaded)
            continue;
        m_keepOnDisk[i] = platform::StatPath(path).has_value();
        m_set.MarkLoadFailed(file.Object());
        if (file.loadFailed != 0)
            m_env.prompter.Show(file.loadFailed, MessageKind::Error);
    }
    return true;
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
    bool refused = false;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (keep[i] || !files[i].ChangedOnDisk())
            continue;
        if (m_env.changedFiles == CAppEnvironment::ChangedFiles::Refuse) {
            m_env.prompter.ShowText(strings::Literal(kChangedOnDiskRefused, files[i].name),
                                    MessageKind::Error);
            refused = true;
        } else if (m_env.prompter.ShowText(strings::Literal(kChangedOnDiskQuestion, files[i].name),
                                           MessageKind::Question) != Answer::Yes) {
            keep[i] = true;
        }
    }
    if (refused)
        return false;
    // Without the variable there is nowhere sensible for backups; every save then fails
    // with its message because no file was ever bound.
    const std::string backups = directory ? PathJoin(*directory, "backup.cfg") : std::string();
    if (directory)
        (void)platform::MakeDirectory(backups); // usually exists already
    for (std::size_t i = 0; i < files.size(); ++i) {
        const CConfigSet::File& file = files[i];
        if (keep[i] && !m_keepOnDisk[i])
            continue; // the user keeps what the other program wrote
        if (keep[i] ||
            !file.Save(backups.empty() ? std::string() : PathJoin(backups, file.name)))
            m_env.prompter.Show(file.saveFailed, MessageKind::Error);
    }
    return true;
}

void CQuibrelApp::RestartServices() {
    for (const ServiceRestart& restart : kRestarts) {
        if (!IsServiceRunning(m_env.services, restart.service))
            continue; // a stopped service stays stopped
        CProgressScope progress(m_env.prompter, ansi::FromUtf8(restart.progressText));
        if (!RequestServiceRestart(m_env.services, restart.service))
            m_env.prompter.Show(restart.failureMessage, MessageKind::Error);
        m_env.sleepMs(250);
    }
}
