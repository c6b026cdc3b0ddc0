#include "app/ConfigSet.h"

std::array<CConfigSet::File, CConfigSet::kFileCount> CConfigSet::Files() {
    return {{
        {"smtpd.cfg", 104, 116, &smtpd, nullptr},
        {"pop3d.cfg", 105, 117, &pop3d, nullptr},
        {"imap4d.cfg", 170, 173, &imap4d, nullptr},
        {"syslogd.cfg", 126, 127, &syslogd, nullptr},
        {"mdad.cfg", 106, 118, &mdad, nullptr},
        {"domains", 107, 119, nullptr, &domains},
        {"aliases", 109, 121, &aliases, nullptr},
        {"smarthosts", 0, 169, &smarthosts, nullptr},
        {"backupdomains", 0, 125, nullptr, &backupDomains},
    }};
}
