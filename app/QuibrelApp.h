// The application cycle: relaunch, the administrator test, the load of the configuration set
// in its fixed order, the sheet, and after OK the save of every file with its backup copy and
// the restart of the running services. Everything the cycle needs from outside comes in
// through CAppEnvironment, so it runs without a window under test.
#pragma once

#include "app/BatchPrompter.h"
#include "app/ConfigSet.h"
#include "app/Prompter.h"
#include "platform/FileLock.h"
#include "platform/ServiceManager.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

// The property sheet as the cycle sees it: shown modally over the loaded set; true when it
// ended with OK.
class CSheet {
public:
    virtual ~CSheet() = default;
    virtual bool Run(CConfigSet& set, CPrompter& prompter) = 0;
};

class CSetPreload;

struct CAppEnvironment {
    CPrompter& prompter;
    platform::ServiceManager& services;
    CSheet& sheet;
    // The administrator test; any failure to find out is false.
    std::function<bool()> isAdministrator;
    // Starts the program's own executable anew without arguments; 0 or the system error code.
    std::function<int()> relaunch;
    // The pause after each restart request.
    std::function<void(unsigned ms)> sleepMs;
    // The environment variable naming the configuration directory.
    const char* configVariable = "MAILCONFIGDIR";
    // Whether the running services are asked to restart after a save.
    bool restartServices = true;
    // What the save does with a file another program wrote since the load: ask whether to
    // overwrite it, or save nothing at all.
    enum class ChangedFiles { Ask, Refuse } changedFiles = ChangedFiles::Ask;
    // How long a load or a save waits for another program that is saving the set.
    std::chrono::milliseconds lockTimeout{10000};
    // Whether the set stays locked against other programs' saves from before the load until
    // after the save, instead of only while it is read and while it is written. For a short
    // run that writes files outside the set (account folders) before it saves the set: no
    // other save can then slip in between and make this save refuse after those files are
    // written. A run that does not get the lock in time changes nothing.
    bool lockThroughout = false;
    // The set loaded ahead while the window toolkit started (see CSetPreload), or none. Not
    // taken with lockThroughout, whose lock must be held before the load.
    CSetPreload* preload = nullptr;
};

// The relaunch of the real program: its own executable started anew, without arguments and
// without waiting for it. 0 or the system error code.
int RelaunchOwnExecutable();
// The same for the executable at path.
int RelaunchExecutable(const std::string& path);

// Why the account list of spool could not be built, for the user: the folder named, and
// whether it is missing, no folder, or cannot be read. In the code page.
std::string SpoolFailureText(const std::string& spool);

// How a run ended, for the caller's exit status and for tests.
enum class AppOutcome {
    Relaunched,
    RelaunchFailed,
    RefusedRights, // not an administrator, and the user chose Cancel
    Cancelled,     // the sheet ended with Cancel: nothing of the set was written
    Saved,         // the sheet ended with OK: the set was saved, services asked to restart
    SaveRefused,   // OK, but nothing was saved: another program was saving or had saved
};

class CQuibrelApp {
public:
    explicit CQuibrelApp(CAppEnvironment environment);

    // Runs the whole cycle for the command line (the text after the program's name).
    AppOutcome Run(std::string_view commandLine);

    // The configuration set, loaded by Run.
    CConfigSet& set() { return m_set; }

    // What the save after OK did with each file of the set, in the order of CConfigSet::Files:
    // not saved (no save ran), saved, failed (with its message), or kept as it is on disk (it
    // could not be read at the load, or the user kept another program's version of it).
    enum class FileSave { NotSaved, Saved, Failed, Kept };
    const std::array<FileSave, CConfigSet::kFileCount>& SaveResults() const {
        return m_saveResults;
    }

    // The restart order of the suite's services, with their progress texts and the messages
    // shown when the request fails.
    struct ServiceRestart {
        const char* service;
        const char* progressText; // UTF-8
        unsigned failureMessage;
    };
    static const ServiceRestart kRestarts[5];

private:
    bool Relaunch();
    friend class CSetPreload;
    // Tells the user once when MAILCONFIGDIR is unset or names no folder.
    static void CheckConfigDirectory(const std::optional<std::string>& directory,
                                     CPrompter& prompter);
    // Loads the set (or takes the preload's); a file that fails is said and marked, an account
    // list that cannot be built leaves "aliases" unchecked (CConfigSet::aliasesUnchecked). A
    // missing or unreadable spool does not end the program: message 108 names the folder and
    // the cause, and the sheet opens so that the Folders page can mend it.
    void LoadSet();
    // The files of the set from directory (none without it) in their order, under whatever lock
    // the caller holds; what fails is said through prompter and marked in keepOnDisk.
    static void LoadFiles(CConfigSet& set, CPrompter& prompter,
                          const std::optional<std::string>& directory,
                          std::array<bool, CConfigSet::kFileCount>& keepOnDisk);
    // False when nothing was saved because of another program (see ChangedFiles).
    bool SaveSet();
    // Takes lock on the configuration directory in mode, telling the user while it waits;
    // false when the wait ran out.
    bool LockDirectory(platform::DirectoryLock& lock, const std::string& directory,
                       platform::DirectoryLock::Mode mode);
    // Takes m_runLock for lockThroughout; false (and said) when another program keeps the set.
    bool LockThroughout();
    void RestartServices();
    // Deletes the account folders that removals set aside, once the set was saved; otherwise
    // gives them their names back.
    void FinishRemovals(bool saved);
    // The file's save message with what made it fail.
    void ShowSaveFailure(const CConfigSet::File& file, const std::string& cause);
    FileSave ResultOf(const void* object);
    // Takes what another program changed in file since the load into the set (asking once
    // about entries both changed); false when it cannot, and the user is asked about the file
    // as a whole.
    bool TakeOverTheirChanges(const CConfigSet::File& file);

    CAppEnvironment m_env;
    CConfigSet m_ownSet;
    CConfigSet& m_set;                 // m_ownSet, or the preload's set
    platform::DirectoryLock m_runLock; // held from load to save with lockThroughout
    // Files that exist but could not be loaded: saving the empty object over them would destroy
    // the administrator's settings, so they are left alone after OK and reported instead.
    std::array<bool, CConfigSet::kFileCount> m_keepOnDisk{};
    std::uint64_t m_aliasesLoadedVersion = 0; // to tell whether the sheet changed it
    std::array<FileSave, CConfigSet::kFileCount> m_saveResults{};
    std::map<const void*, CStringListEx> m_listBases; // the lists as loaded, for the merge
};

// Asks each running service of the suite to restart, in the order of CQuibrelApp::kRestarts,
// with a progress text each and a pause after each request; a stopped service stays stopped.
void RestartRunningServices(platform::ServiceManager& services, CPrompter& prompter,
                            const std::function<void(unsigned ms)>& sleepMs);

// The configuration set loaded on a second thread from the moment this is made, for the first
// run of the program: made before the window toolkit starts and handed to the run through
// CAppEnvironment::preload, so that the start costs about the larger of the two instead of
// their sum. The run takes the set where it would load it (after the administrator test) and
// only then shows the load's messages, in their order. Should another program be saving the
// set, the preload leaves it untouched and the run loads it as usual, waiting for that save.
class CSetPreload {
public:
    explicit CSetPreload(const char* configVariable = "MAILCONFIGDIR");
    ~CSetPreload();
    CSetPreload(const CSetPreload&) = delete;
    CSetPreload& operator=(const CSetPreload&) = delete;

    // Whether the load is still running: only then is there time to do other work beside it.
    bool Running() const;

private:
    friend class CQuibrelApp;
    // Waits for the load; false when it was left to the run.
    bool Take();
    bool Load(const std::optional<std::string>& directory);

    CConfigSet m_set;
    std::ostringstream m_discarded;
    CBatchPrompter m_messages{m_discarded}; // what the load said, to be shown by the run
    std::array<bool, CConfigSet::kFileCount> m_keepOnDisk{};
    std::future<bool> m_loaded;
    bool m_claimed = false;
};
