#include "Installation.h"

#include "platform/FileSystem.h"

#include <cstdio>
#include <fstream>

namespace bench {

std::string Domain(int d) {
    char text[32];
    std::snprintf(text, sizeof text, "d%05d.example", d);
    return text;
}

std::string Account(int u, int d) {
    return Cat("u", u, ".", Domain(d));
}

namespace {

void WriteDomains(const std::string& config) {
    std::ofstream out(config + "/domains", std::ios::binary);
    for (int d = 0; d < kDomains; ++d)
        out << Domain(d) << "\r\n";
    std::ofstream backup(config + "/backupdomains", std::ios::binary);
    for (int b = 0; b < kBackupDomains; ++b)
        backup << "b" << b << ".backup\r\n";
}

void MakeAccountFolders(const std::string& spool) {
    platform::MakeDirectory(spool);
    for (int d = 0; d < kDomains; ++d) {
        for (int u = 0; u < kAccountsPerDomain; ++u) {
            std::string name = Account(u, d);
            if (u == 3)
                name[0] = 'U'; // folders made by hand may carry capitals
            platform::MakeDirectory(spool + "/" + name);
        }
    }
}

int WriteAliases(const std::string& config) {
    std::ofstream out(config + "/aliases", std::ios::binary);
    int lines = 0;
    auto line = [&](const std::string& key, const std::string& target) {
        out << key << ":\t" << target << "\r\n";
        ++lines;
    };
    for (int d = 0; d < kDomains; ++d) {
        const std::string domain = Domain(d);
        if (d % 50 == 0)
            out << "# customer block " << d << "\r\n";
        for (int u = 0; u < kAccountsPerDomain; ++u) // 100,000
            line(Cat(u == 3 ? "U" : "u", u, "@", domain), Account(u, d));
        for (int f = 0; f < 4; ++f) // 40,000
            line(Cat("fw", f, "@", domain), Cat("someone", d * 4 + f, "@far.away"));
        line(Cat("*@", domain), Account(0, d)); // 10,000
        if (d % 2 == 0)                         // 5,000
            line(Cat(d % 4 == 0 ? "s*@" : "info?@", domain), Account(1, d));
        line(Cat("alt", d, "@", domain), Cat("alias", d)); // 10,000
    }
    for (int d = 0; d < kDomains; ++d) // 10,000 without a domain
        line(Cat("alias", d), Account(2, d));
    for (int d = 0; d < kDomains; d += 2) // 5,000 aliases of aliases
        line(Cat("second", d), Cat("alias", d));
    // 20,000 dropped: backup and unknown domains, self-references, no account.
    for (int i = 0; i < 8000; ++i)
        line(Cat("x", i, "@b", i % kBackupDomains, ".backup"), Account(0, 0));
    for (int i = 0; i < 4000; ++i)
        line(Cat("x", i, "@gone", i, ".test"), Account(0, 1));
    for (int i = 0; i < 4000; ++i) {
        const std::string self = Cat("self", i, "@", Domain(i));
        line(self, self);
    }
    for (int i = 0; i < 4000; ++i)
        line(Cat("y", i, "@", Domain(i)), Cat("nobody", i));
    return lines;
}

} // namespace

int WriteInstallation(const std::string& configDir, const std::string& spoolDir) {
    WriteDomains(configDir);
    MakeAccountFolders(spoolDir);
    return WriteAliases(configDir);
}

void WriteServiceFile(const std::string& path, int entries) {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < entries; ++i) {
        if (i % 100 == 0)
            out << "\r\n";
        if (i % 10 == 0)
            out << "# Setting number " << i << " of the generated service file\r\n";
        out << "Section" << i % 97 << ".Key" << i << ": value-" << i * 7919
            << ", c:\\mail\\spool\\" << i;
        if (i % 50 == 0)
            out << " # trailing";
        out << "\r\n";
    }
}

} // namespace bench
