// The large installation the benchmarks measure on: 10,000 local domains, 1,000 backup domains,
// 100,000 account folders and 200,000 lines of "aliases" of every kind the page shows (account
// addresses, forwardings, catch-alls, wildcard patterns, names without a domain, aliases of
// aliases) and 20,000 that the load filter drops.
#pragma once

#include <string>
#include <type_traits>

namespace bench {

inline constexpr int kDomains = 10000;
inline constexpr int kAccountsPerDomain = 10;
inline constexpr int kBackupDomains = 1000;

// Joins text and numbers. (Avoids "literal" + std::string&&, on which GCC 12 warns wrongly.)
template <class... Parts> std::string Cat(const Parts&... parts) {
    std::string text;
    auto add = [&](const auto& part) {
        if constexpr (std::is_arithmetic_v<std::decay_t<decltype(part)>>)
            text += std::to_string(part);
        else
            text += part;
    };
    (add(parts), ...);
    return text;
}

// "d00042.example"
std::string Domain(int d);
// "u3.d00042.example"
std::string Account(int u, int d);

// Writes "domains", "backupdomains" and "aliases" into configDir and makes the account folders
// in spoolDir (created when missing). Returns the number of alias lines.
int WriteInstallation(const std::string& configDir, const std::string& spoolDir);

// Writes a service file of entries keys at path, shaped like a real one: dotted keys, mixed
// values, a comment block every tenth entry, a trailing comment every fiftieth, a blank line
// every hundredth.
void WriteServiceFile(const std::string& path, int entries);

} // namespace bench
