// korvane-make-installation CONFIG-DIR SPOOL-DIR: writes the benchmarks' large installation
// ("domains", "backupdomains", "aliases" and the account folders) for measuring whole
// processes. The service files are the caller's (bench/start-time copies the sample's).
#include "Installation.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s CONFIG-DIR SPOOL-DIR\n", argv[0]);
        return 2;
    }
    const int lines = bench::WriteInstallation(argv[1], argv[2]);
    std::printf("%d domains, %d accounts, %d alias lines\n", bench::kDomains,
                bench::kDomains * bench::kAccountsPerDomain, lines);
    return 0;
}
