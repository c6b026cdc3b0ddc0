#include "pages/AddressTrace.h"

#include "Common/Ansi.h"
#include "accounts/AccountStore.h"
#include "app/Strings.h"
#include "pages/AccountDialogs.h"
#include "pages/TransportRules.h"

#include <algorithm>

namespace {

std::string U(std::string_view ansiText) {
    return ansi::ToUtf8(ansiText);
}

std::string Quoted(std::string_view ansiText) {
    return "\"" + U(ansiText) + "\"";
}

std::string_view DomainOfAddress(std::string_view address) {
    const std::size_t at = address.rfind('@');
    return at == std::string_view::npos ? std::string_view() : address.substr(at + 1);
}

// The rule of "smarthosts" for key, when there is one: its key as written and its value.
bool FindRule(const CConfigSet& set, std::string_view domain, transport::Dependency dependency,
              std::string& key, std::string& value) {
    for (auto position = set.smarthosts.GetStartPosition(); position;) {
        set.smarthosts.GetNextAssoc(position, key, value);
        if (transport::DependencyOf(key) == dependency &&
            ansi::EqualNoCase(transport::DomainOf(key), domain))
            return true;
    }
    return false;
}

void Outgoing(const CConfigSet& set, std::string_view recipient, std::string_view sender,
              CTrace& trace) {
    trace.end = CTrace::End::Outgoing;
    std::string key;
    std::string value;
    const bool found =
        FindRule(set, DomainOfAddress(recipient), transport::kRecipient, key, value) ||
        (!sender.empty() && FindRule(set, sender, transport::kSender, key, value)) ||
        FindRule(set, "*", transport::kRecipient, key, value);
    if (!found) {
        trace.steps.push_back({"Die Mail an " + Quoted(recipient) +
                                   " verlässt den Server direkt an den Mailserver der Domain "
                                   "(MX-Eintrag im DNS); keine Transportregel passt.",
                               "smarthosts"});
        return;
    }
    const transport::RuleValue rule = transport::ReadValue(value);
    std::string how = "über den Smarthost " + Quoted(rule.server) + ", Port " +
                      std::to_string(rule.port) + (rule.ssl ? " mit SSL/TLS" : "");
    if (rule.logsIn)
        how += ", angemeldet als " + Quoted(rule.login);
    trace.steps.push_back({"Die Mail an " + Quoted(recipient) + " verlässt den Server " + how + ".",
                           "smarthosts: " + U(key)});
}

} // namespace

std::optional<std::string> TraceAddressRefusal(std::string_view address) {
    // Named by its length only: a text of thousands of characters is no use in a message box.
    if (address.size() > kLongestAddress)
        return strings::Literal("Die Adresse ist mit %s Zeichen zu lang; eine E-Mail-Adresse hat "
                                "höchstens 254 Zeichen.",
                                std::to_string(address.size()));
    const std::size_t at = address.find('@');
    const bool blank = std::any_of(address.begin(), address.end(),
                                   [](char ch) { return static_cast<unsigned char>(ch) <= ' '; });
    if (address.empty() || blank || at == 0 ||
        (at != std::string_view::npos && (address.find('@', at + 1) != std::string_view::npos ||
                                          accountdlg::DomainNameRefusal(address.substr(at + 1)))))
        return strings::Literal("\"%s\" ist keine gültige E-Mail-Adresse.", address);
    return std::nullopt;
}

CTrace TraceAddress(const CConfigSet& set, std::string_view address) {
    CTrace trace;
    std::string current = ansi::ToLower(address);
    const std::string senderDomain(DomainOfAddress(current));
    std::vector<std::string> passed;
    while (true) {
        const std::string_view domain = DomainOfAddress(current);
        if (std::find(passed.begin(), passed.end(), current) != passed.end()) {
            trace.steps.push_back({"Die Weiterleitung führt zurück zu " + Quoted(current) +
                                       ": eine Schleife, die Mail kommt nie an.",
                                   "aliases"});
            trace.end = CTrace::End::Loop;
            return trace;
        }
        passed.push_back(current);
        if (!domain.empty() && !set.domains.Contains(domain)) {
            if (set.backupDomains.Contains(domain))
                trace.steps.push_back({"Die Domain " + Quoted(domain) +
                                           " ist eine Backup-MX-Domain: der Server nimmt die "
                                           "Mail an und gibt sie an ihren eigenen Mailserver "
                                           "weiter.",
                                       "backupdomains: " + U(domain)});
            else
                trace.steps.push_back(
                    {"Die Domain " + Quoted(domain) + " ist keine lokale Domain.", "domains"});
            Outgoing(set, current, passed.size() == 1 ? std::string() : senderDomain, trace);
            return trace;
        }
        if (!domain.empty())
            trace.steps.push_back(
                {"Die Domain " + Quoted(domain) + " ist lokal.", "domains: " + U(domain)});

        std::string target;
        std::string key;
        if (!set.aliases.ResolveAddress(current, target, &key)) {
            // An account is reached only through an address; a bare name is one.
            if (domain.empty() && set.users.Contains(current)) {
                target = current;
                key.clear();
            } else {
                trace.steps.push_back({"Für " + Quoted(current) +
                                           " gibt es keinen Eintrag: die Mail wird abgewiesen.",
                                       "aliases"});
                trace.end = CTrace::End::Refused;
                return trace;
            }
        }
        const bool forward = target.find('@') != std::string::npos;
        if (!key.empty()) {
            const bool exact = ansi::EqualNoCase(key, current);
            const bool catchAll = !exact && key.starts_with("*@");
            trace.steps.push_back({(exact      ? "Der Eintrag " + Quoted(key)
                                    : catchAll ? "Die Sammeladresse (Catch-all) " + Quoted(key)
                                               : "Der Platzhalter-Eintrag " + Quoted(key)) +
                                       (forward ? " leitet weiter an " : " gehört zum Konto ") +
                                       Quoted(target) + ".",
                                   "aliases: " + U(key)});
        }
        if (forward) {
            current = ansi::ToLower(target);
            continue;
        }

        const std::string account = ansi::ToLower(target);
        CAccountStore store(set.mdad);
        const auto folder = store.AccountFolder(account);
        if (!set.users.Contains(account) || !folder) {
            trace.steps.push_back(
                {"Das Konto " + Quoted(account) + " hat kein Postfach: die Mail wird abgewiesen.",
                 "aliases: " + U(key)});
            trace.end = CTrace::End::Refused;
            return trace;
        }
        trace.steps.push_back(
            {"Zustellung in das Postfach des Kontos " + Quoted(account) + " (" + U(*folder) + ").",
             "Konto: " + U(account)});
        CConfigMap config;
        if (store.LoadAccountConfig(account, config) && config.GetInt("RunReply", 0) != 0)
            trace.steps.push_back({"Die automatische Antwort ist eingeschaltet (Vorlage " +
                                       Quoted(config.GetString("RunReplyTemplate", "reply.emt")) +
                                       ").",
                                   "Konto: " + U(account) + ", config: RunReply"});
        trace.end = CTrace::End::Account;
        trace.account = account;
        return trace;
    }
}
