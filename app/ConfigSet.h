// The configuration set: the program-wide objects every page and dialog works on, loaded once
// at start-up and saved after OK.
#pragma once

#include "Common/MapEx.h"
#include "Common/StringList.h"
#include "accounts/AliasMap.h"
#include "accounts/DomainList.h"
#include "accounts/UserList.h"

#include <array>
#include <string>

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
        bool Save(const std::string& backupBase) const {
            return map ? map->Save(true, backupBase) : list->Save(true, backupBase);
        }
    };
    static constexpr std::size_t kFileCount = 9;
    static constexpr std::size_t kAccountListAfter = 6; // built after the first six files
    std::array<File, kFileCount> Files();
};
