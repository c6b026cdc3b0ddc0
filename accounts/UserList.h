// The list of accounts: the folders directly under the spool directory, by lower-cased name.
#pragma once

#include "Common/FileChangeMonitor.h"
#include "Common/MapEx.h"
#include "accounts/TextIndex.h"
#include "platform/DirectoryWatch.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The account names, one per folder of the spool directory ("SpoolDir" of the delivery
// agent's configuration, read afresh by every Refresh), in lower case. The alias map asks
// Contains for every line of "aliases" and the domains page walks every name, against a hundred
// thousand accounts: the names are packed into one buffer, in the order the folders were
// listed, with a hash index over them, so that a refresh allocates nothing per name and a
// look-up touches one slot of the index and one name. Every operation runs under the list's
// own lock.
class CUserList {
public:
    // The kinds of change the watch on the spool listens for: names of files and folders,
    // last writes and creations.
    static constexpr std::uint32_t kWatchFilter =
        platform::kChangeFileName | platform::kChangeDirName | platform::kChangeLastWrite |
        platform::kChangeCreation; // 83

    // The spool directory is read from mdadConfig by every Refresh and StartWatch without an
    // argument; without a configuration they use the suite's default spool directory.
    CUserList() = default;
    explicit CUserList(const CConfigMap& mdadConfig) : m_config(&mdadConfig) {}
    // With the given watch instead of the system's (tests use a scripted one).
    CUserList(const CConfigMap* mdadConfig, std::unique_ptr<platform::DirectoryWatch> watch);
    CUserList(const CUserList&) = delete;
    CUserList& operator=(const CUserList&) = delete;

    // Re-reads the account folders: every folder of the spool directory whose name does not
    // begin with "." and can name an account (IsValidAccountName), lower-cased; plain files and
    // links are no accounts. False when the spool directory cannot be read (missing, not a
    // folder, no permission); the list is then empty.
    bool Refresh();
    // The same on the given spool directory, for a caller that has just read it.
    bool Refresh(const std::string& spoolDir);

    // Whether name is an account; exact comparison (the names are held in lower case).
    bool Contains(std::string_view name) const;
    // A hint for a caller that will ask Contains for many names in turn: each name is given
    // twice, first as later (some look-ups ahead) and then as soon (a few ahead), and the
    // memory its look-up needs is fetched meanwhile: the slot of the index, then the name it
    // leads to. The misses of many look-ups then overlap instead of queueing. Empty names are
    // skipped. Changes nothing.
    void Prefetch(std::string_view later, std::string_view soon) const;
    std::size_t GetCount() const;
    // Calls visit for every name, in no particular order, under the list's lock.
    void ForEach(const std::function<void(std::string_view)>& visit) const;
    // The same with up to batch names at a time, for callers that look many names up at once.
    void ForEachBatch(std::size_t batch,
                      const std::function<void(std::span<const std::string_view>)>& visit) const;
    // A copy of the names, in no particular order.
    std::vector<std::string> GetNames() const;

    // (Re)arms the change watch on the spool directory, once at start-up before the first
    // Refresh; later refreshes leave it alone. False when arming failed, which the program may
    // ignore: the page then simply does not notice folders made by others until it refreshes.
    // The watch is on the spool folder itself, not on every account folder below it: accounts
    // appear and vanish as folders of the spool, and a watch per account folder would cost a
    // hundred thousand system watches and a long start on a large installation.
    bool StartWatch();
    bool StartWatch(const std::string& spoolDir);
    bool IsWatching() const;
    // Brings the list up to date with the spool as cheaply as the watch allows: nothing to do
    // when the watch reported no change, the new folders added when it reported only folders
    // that appeared, a full Refresh otherwise (a folder removed, the queue overflowed, the
    // spool itself gone or changed in the configuration, no watch armed, the last look
    // failed). The same result as Refresh, without reading a hundred thousand entries after
    // every edit. changed, when given, tells whether the names may have changed.
    bool Update(bool* changed = nullptr);

    // Whether a change the watch reports concerns an account's password: changedPath, relative
    // to the spool directory, is "password" (in any case) after its first separator, that is,
    // a password file directly inside an account folder.
    static bool IsRelevantChange(std::string_view changedPath);

private:
    std::string SpoolDir() const;

    // Adds one account name (lower-cased) unless it is there already; under the lock.
    void AddName(std::string_view folderName);
    static void Lower(std::string_view folderName, std::string& lowered);
    void AddLowered(std::string_view name); // a name Lower made, after IsValidAccountName

    const CConfigMap* m_config = nullptr;
    std::string m_watchedSpool; // the folder the watch is armed on; empty when none
    bool m_watchLost = false;    // it reported what it cannot name: the folder may be gone
    bool m_lastRefreshFailed = false;
    mutable std::recursive_mutex m_mutex;
    accounts_detail::CPackedTexts<0> m_names; // each name once
    accounts_detail::CExactIndex m_index;     // name -> its offset in m_names
    std::size_t m_count = 0;
    std::string m_lowered; // AddName's work space
    CFileChangeMonitorEx m_monitor;
};
