// What is wrong or dangerous in a loaded configuration set, found without asking anybody: the
// checks the pages make when they are shown, and the ones no page can make alone (an open
// relay, two services on one port, an alias chain that comes back to its start). Each finding
// names the file and key it comes from, so that a monitor can point the administrator at it.
#pragma once

#include "app/ConfigSet.h"
#include "pages/ServerAdvanced.h"
#include "platform/NetworkInterfaces.h"
#include "platform/TaskScheduler.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

enum class Severity { Warning = 1, Critical = 2 };

struct CFinding {
    Severity severity;
    const char* code; // a stable name for scripts ("open-relay")
    std::string file; // the file of the set it comes from
    std::string key;  // the key, list entry or alias there; may be empty
    std::string text; // a German sentence, UTF-8
};

struct CheckEnvironment {
    std::string hostName;  // this machine's name, as the domains page checks it
    std::string configDir; // the value of MAILCONFIGDIR
    CertificateStoreFactory certificates = &platform::MakeSystemCertificateStore;
    // The time the certificates' validity is measured against, in seconds since 1970.
    std::int64_t now = 0;
    // The machine's own addresses, which the services' interfaces must name. When the list
    // cannot be read completely (any outcome but Success) no interface is judged by it.
    std::function<platform::LocalAddresses()> localAddresses = &platform::QueryLocalAddresses;
    // The store of the delivery times; none (or a null store) checks no delivery time.
    std::function<std::unique_ptr<platform::TaskScheduler>()> scheduler =
        &platform::CreateTaskScheduler;
};

// Every finding, in a fixed order of topics. Reads the list files and account folders it
// needs; changes nothing on disk and nothing of the set that a save would write.
std::vector<CFinding> CheckConfiguration(CConfigSet& set, const CheckEnvironment& environment);
