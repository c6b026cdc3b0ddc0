// The commands of korvanectl: each is a table row with its words, its arguments and options,
// its help text and a handler that works on the loaded configuration set through the same
// page models as the sheet. Exit statuses: 0 done, 1 refused or failed, 2 wrong usage.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace ctl {

// kSavedWithErrors: the command's own change is on disk, but another file of the set could
// not be rewritten or a service did not take its restart request; a retry is not needed.
enum Status : int { kOk = 0, kFailed = 1, kUsage = 2, kSavedWithErrors = 3 };

// Runs the command line (without the program's name); out gets the results, err the messages,
// and a password not given in a file is read from in.
struct Streams {
    std::ostream& out;
    std::ostream& err;
    std::istream& in;
    // Whether in is a terminal a person types into: a command that deletes asks there.
    bool interactive = false;
};
int Run(const std::vector<std::string>& arguments, Streams streams);

} // namespace ctl
