// The configuration set: the program-wide objects every page and dialog works on, loaded once
// at start-up and saved after OK.
#pragma once

#include "Common/MapEx.h"
#include "Common/StringList.h"
#include "accounts/AliasMap.h"
#include "accounts/DomainList.h"
#include "accounts/UserList.h"

#include <algorithm>
#include <array>
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
        const void* Object() const { return map ? static_cast<const void*>(map) : list; }
        bool Save(const std::string& backupBase) const {
            return map ? map->Save(true, backupBase) : list->Save(true, backupBase);
        }
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
    static constexpr std::size_t kAccountListAfter = 6; // built after the first six files
    std::array<File, kFileCount> Files();

private:
    std::vector<const void*> m_failedLoads;
};
