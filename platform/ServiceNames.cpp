// The names of the suite's services on each system: a table, the same wherever it is built.
#include "platform/ServiceManager.h"

#include <map>

namespace platform {

std::string SystemdUnitName(const std::string& service) {
    static const std::map<std::string, std::string> units = {
        {"SMTPd", "korvane-smtpd.service"},     {"MDAd", "korvane-mdad.service"},
        {"POP3d", "korvane-pop3d.service"},     {"IMAP4d", "korvane-imap4d.service"},
        {"SYSLOGd", "korvane-syslogd.service"}, {"Schedule", "cron.service"},
    };
    auto it = units.find(service);
    return it == units.end() ? std::string() : it->second;
}

} // namespace platform
