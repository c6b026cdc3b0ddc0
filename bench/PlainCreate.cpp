// korvane-plain-create SPOOL CSV: the floor of an account import, the same folders and files
// made by a plain loop: for every row of the CSV (address,password) a folder named like the
// account with a "password" and a "config" file, written straight, without checks, backups,
// atomic replacement or syncs.
#include "platform/FileSystem.h"

#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SPOOL CSV\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    std::string line;
    std::getline(in, line); // the header
    while (std::getline(in, line)) {
        const std::size_t comma = line.find(',');
        const std::string address = line.substr(0, comma);
        std::string account = address;
        account[account.find('@')] = '.';
        const std::string folder = std::string(argv[1]) + "/" + account;
        platform::MakeDirectory(folder);
        std::ofstream(folder + "/password", std::ios::binary) << line.substr(comma + 1) << "\r\n";
        std::ofstream(folder + "/config", std::ios::binary) << "Password:\tkvcrypt\r\n";
    }
    return 0;
}
