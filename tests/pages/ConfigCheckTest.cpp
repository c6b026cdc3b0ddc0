// The configuration check on a set built in memory, for what korvanectl cannot show without
// depending on the machine it runs on: the interfaces judged against a fixed list of the
// machine's addresses, and which transport rules can never apply.
#include "pages/ConfigCheck.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Outcome = platform::AddressQueryOutcome;
using testing::ElementsAre;
using testing::IsEmpty;

CheckEnvironment Environment(Outcome outcome, std::vector<std::string> addresses) {
    CheckEnvironment environment;
    environment.localAddresses = [=] { return platform::LocalAddresses{outcome, addresses}; };
    environment.scheduler = nullptr;
    return environment;
}

// "file key" of every finding with the code.
std::vector<std::string> Found(CConfigSet& set, const CheckEnvironment& environment,
                               const std::string& code) {
    std::vector<std::string> found;
    for (const CFinding& finding : CheckConfiguration(set, environment))
        if (finding.code == code)
            found.push_back(finding.file + " " + finding.key + " " +
                            (finding.severity == Severity::Critical ? "critical" : "warning"));
    return found;
}

TEST(ConfigCheck, InterfacesOnAddressesTheMachineDoesNotHave) {
    CConfigSet set;
    set.smtpd.SetString("Interface", "10.0.0.1:25,10.0.0.9:25,*:465s");
    set.pop3d.SetString("Interface", "0.0.0.0:110");
    set.imap4d.SetString("Interface", "10.0.0.1");
    set.syslogd.SetString("Interface", "10.0.0.8");
    EXPECT_THAT(
        Found(set, Environment(Outcome::Success, {"127.0.0.1", "10.0.0.1"}), "interface-not-local"),
        ElementsAre("smtpd.cfg Interface critical", "syslogd.cfg Interface critical"));
    // A list that is not the machine's whole one judges nothing.
    for (Outcome partial : {Outcome::HostNameFallback, Outcome::NoData, Outcome::OutOfMemory})
        EXPECT_THAT(Found(set, Environment(partial, {"127.0.0.1"}), "interface-not-local"),
                    IsEmpty());
    // Every address, whichever way it is written, is on every machine.
    set.smtpd.SetString("Interface", "*:25");
    set.syslogd.SetString("Interface", "<ALLE>");
    EXPECT_THAT(Found(set, Environment(Outcome::Success, {"10.0.0.1"}), "interface-not-local"),
                IsEmpty());
}

TEST(ConfigCheck, TransportRulesThatCanNeverApply) {
    CConfigSet set;
    set.domains.AddTail("example.test");
    // In the order of the file: the catch-all first does not hide the rules after it.
    const std::pair<const char*, const char*> rules[] = {
        {"*", "relay.test:25"},         {"partner.test", "mx.partner.test:25"},
        {">Partner.test", "o.test:25"}, {"<example.test", "smtp.test:587"},
        {"<*", "smtp.test:587"},        {"example.test", "smtp.test:25"},
        {"", "smtp.test:25"},           {">*", "o.test:25"}};
    for (const auto& [key, value] : rules)
        set.smarthosts.SetString(key, value);
    const CheckEnvironment environment = Environment(Outcome::NoData, {});
    EXPECT_THAT(Found(set, environment, "transport-rule-unreachable"),
                ElementsAre("smarthosts >Partner.test warning", "smarthosts <* warning",
                            "smarthosts  warning", "smarthosts >* warning"));
    EXPECT_THAT(Found(set, environment, "transport-rule-local-domain"),
                ElementsAre("smarthosts example.test warning"));
}

} // namespace
