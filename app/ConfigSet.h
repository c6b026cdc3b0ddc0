// The configuration set: the program-wide objects every page and dialog works on, loaded once
// at start-up and saved after OK.
#pragma once

#include "Common/MapEx.h"
#include "Common/StringList.h"
#include "app/Journal.h"
#include "accounts/AliasMap.h"
#include "accounts/DomainList.h"
#include "accounts/UserList.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct CConfigSet {
    CConfigMap smtpd;
    CConfigMap pop3d;
    CConfigMap imap4d;
    CConfigMap syslogd;
    CConfigMap mdad;
    CConfigMap smarthosts;
    CDomainList domains;
    CDomainList backupDomains;
    CUserList users{mdad};
    CAliasMap aliases{domains, users};

    // One file of the set, with the messages shown when its load or save fails (0: none). The
    // rows stand in the order the set is loaded and saved; the account list, which has no file,
    // is built right after "domains".
    struct File {
        const char* name;
        unsigned loadFailed;
        unsigned saveFailed;
        CStorableMap* map; // one of map and list is set
        CStorableList* list;

        bool Load(const std::string& path) const {
            return map ? map->Load(path) : list->Load(path);
        }
        bool Load(const std::string& path, textfile::CReadAhead&& ahead) const {
            return map ? map->Load(path, std::move(ahead)) : list->Load(path, std::move(ahead));
        }
        const void* Object() const { return map ? static_cast<const void*>(map) : list; }
        const std::string& Path() const { return map ? map->GetPath() : list->GetPath(); }
        bool ChangedOnDisk() const { return map ? map->ChangedOnDisk() : list->ChangedOnDisk(); }
        bool Save(const std::string& backupBase, const std::string& moment = {}) const {
            return map ? map->Save(true, backupBase, moment) : list->Save(true, backupBase, moment);
        }
        // The exact bytes Save would write now.
        platform::LargeString TextToSave() const { return map ? map->TextToSave() : list->TextToSave(); }
    };
    static constexpr std::size_t kFileCount = 9;
    // Files whose load failed at start-up (missing, unreadable, no configuration directory):
    // what the pages show for them are defaults, not the administrator's settings, so no page
    // compares other files with them.
    void MarkLoadFailed(const void* object) { m_failedLoads.push_back(object); }
    bool LoadFailed(const void* object) const {
        return std::find(m_failedLoads.begin(), m_failedLoads.end(), object) !=
               m_failedLoads.end();
    }
    // Account folders that removals set aside (CAccountStore::SetAsideAccount) until the set
    // that no longer names them is saved: deleted after a save of "aliases", given their names
    // back when the set is not saved. The folder of a mailbox is thus destroyed last.
    struct PendingRemoval {
        std::string account;
        std::string aside; // the folder's path while it is set aside
    };
    std::vector<PendingRemoval> pendingRemovals;
    // The writes made at once, outside the save of the set (see CJournal).
    CJournal journal;
    // A dry run changes the set in memory only: what would be written at once (account folders,
    // folders) is recorded in the journal as not done, and nothing is written.
    bool dryRun = false;
    // "aliases" was loaded without the account list, unchecked: it is not written after OK.
    bool aliasesUnchecked = false;
    static constexpr std::size_t kAccountListAfter = 6; // built after the first six files
    std::array<File, kFileCount> Files();

    // The list files of the server pages. Several pages may name one file (by default the
    // SMTP, POP3 and IMAP4 pages all use "access.allow"): they then share one list, loaded
    // once, so that an edit on one page is seen on the others and no page writes a stale copy
    // over another's edit. Paths are compared after "." and ".." are resolved.
    CStorableList& SharedList(const std::string& path);
    // Seeds the list of path from a page's older key, when the file gave no entries (missing or
    // empty; a file that exists but could not be read is never seeded, it will not be written
    // either). The pages that share a file each bring their own entries, each entry once. A
    // default stands in only while no page brought entries of its own: "admit everyone" must
    // never be added beside a list an administrator narrowed for another service.
    void SeedSharedList(const std::string& path, const CStringListEx& entries, bool isDefault);
    // A page begins its apply. The sheet applies every shown page in turn; a page that applies
    // again starts the next round, in which every shared file is written once more.
    void BeginListApply(const void* page);
    enum class ListSave { Saved, Failed, KeptUnreadable, AlreadySaved };
    // Writes the list of path after its backup, once per round: a second page that shares it
    // finds it AlreadySaved (and the first page has reported a failure). A file that exists but
    // could not be read (no permission, a folder) is never written over: KeptUnreadable. The
    // pages name the copy by the list's base name in "backup.cfg", so a list whose name leads
    // into another folder is still copied there.
    ListSave SaveSharedList(const std::string& path, const std::string& backupBase);
    // Whether the list of path reached its file in the current round. Until it has, the older
    // keys it was seeded from are the only copy of its entries and must stay.
    bool SharedListSaved(const std::string& path);
    // Whether an apply would write the list of path (it is not a file that could not be read).
    bool SharedListWritable(const std::string& path) { return !Shared(path).unreadable; }
    // A shown page staged its fields (CPageModel::OnStage): its apply will write the list.
    void StageSharedList(const std::string& path) { Shared(path).staged = true; }
    // The list files that the next apply would write, each with its list: those of the pages
    // that were staged (a page never shown is not applied, and the command line applies none),
    // without those that could not be read (never written).
    std::vector<std::pair<std::string, const CStorableList*>> SharedLists() const;

private:
    struct SharedEntry {
        CStorableList list;
        bool seedable = false;
        bool seededByDefault = false; // holds only a page's default, no entries of a key
        bool unreadable = false;
        bool staged = false;
        unsigned savedRound = 0;
        bool saved = false; // the outcome of the save in savedRound
    };
    SharedEntry& Shared(const std::string& path);

    std::vector<const void*> m_failedLoads;
    std::map<std::string, std::unique_ptr<SharedEntry>> m_sharedLists;
    std::vector<const void*> m_applyRound; // the pages that applied in the current round
    unsigned m_round = 1;
    std::string m_roundMoment; // the backup moment of the lists saved in the current round
    unsigned m_momentRound = 0;
};

// path with empty and "." parts dropped and ".." taken back where a part precedes it.
std::string NormalizePath(const std::string& path);
