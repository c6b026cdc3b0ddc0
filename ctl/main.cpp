// korvanectl: the configuration of the Korvane MailServer 4.0 suite on the command line, with
// the rules, the saving and the service restarts of the configurator. "korvanectl --help"
// lists the commands.
#include "ctl/Commands.h"
#include "platform/FileSystem.h"

#include <iostream>

int main(int argc, char* argv[]) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    return ctl::Run(arguments,
                    {std::cout, std::cerr, std::cin, platform::StandardInputIsTerminal()});
}
