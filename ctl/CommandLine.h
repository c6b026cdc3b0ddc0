// The command line of korvanectl, declared once: the commands and the options they take. The
// parser (CLI11, with GNU conventions: "--opt value" and "--opt=value", short options, "--" ends
// the options, options before or after the command words), the help texts, the manual page that
// help2man makes from "--help-all", and the shell completion ("__complete") all read this table.
#pragma once

#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ctl {

struct Context;

// A command line taken apart: the arguments after the command words, the options by name (the
// value, or none for a flag).
struct Invocation {
    std::vector<std::string> args;
    std::map<std::string, std::optional<std::string>> options;

    bool Has(const std::string& name) const { return options.count(name) != 0; }
    std::optional<std::string> Value(const std::string& name) const {
        const auto it = options.find(name);
        return it == options.end() ? std::nullopt : it->second;
    }
};

struct OptionSpec {
    const char* name;      // "password-file", without the dashes
    char shortName;        // 'y' for -y, or 0
    const char* value;     // what the value is called in the help ("DATEI"), nullptr for a flag
    const char* help;      // UTF-8
    const char* completes; // what a shell completes for the value: "@files", "@dirs", or words
};

// Every option of every command; a command names the ones it takes.
const std::vector<OptionSpec>& Options();
const OptionSpec* FindOption(std::string_view name);
// Taken by every command; "dry-run" by every command that changes something.
inline constexpr const char* kGlobalOptions[] = {"config-dir", "no-restart", "wait"};

struct Command {
    const char* words;   // "domain add"
    const char* usage;   // the arguments after the words: "DOMAIN"
    const char* help;    // UTF-8
    const char* example; // one typical call, after "korvanectl "
    std::size_t minArgs = 0;
    std::size_t maxArgs = 0;
    std::vector<std::string> options{}; // besides the global ones
    bool changes = false;               // saves the set and restarts the services
    enum Password { kNoPassword, kPassword, kPasswordIfAsked } password = kNoPassword;
    int (*handler)(Context&) = nullptr;
    // Works on the backup folder alone: the set is not loaded, and the command takes the lock
    // and restarts the services itself where it needs to.
    bool withoutSet = false;
    // What the command did, for the one line it prints once its change is on disk: "%1" stands
    // for its first argument, "%2" for its second. Nothing for a command that reports itself.
    const char* done = nullptr;
    // What a shell completes for each argument, separated by blanks: "@domain" (a domain of the
    // set), "@setfile" (a key-value file of the set), "@files", "@dirs", or words joined by "|";
    // "..." after the last one repeats it.
    const char* completes = nullptr;
};

bool TakesOption(const Command& command, std::string_view option);

// The outcome of taking the command line apart against the table.
struct Parsed {
    enum class Kind { Run, Help, HelpAll, Version, Usage } kind = Kind::Usage;
    const Command* command = nullptr; // Run, and Help of one command
    Invocation call;
    std::string error; // Usage: the German message, "Meinten Sie ...?" included
};
Parsed ParseCommandLine(const std::vector<Command>& commands,
                        const std::vector<std::string>& arguments);

void PrintOverview(std::ostream& out, const std::vector<Command>& commands);
void PrintHelp(std::ostream& out, const Command& command, bool all = false);
// The overview and the help of every command: "--help-all", from which the manual page is made.
void PrintAllHelp(std::ostream& out, const std::vector<Command>& commands);
void PrintVersion(std::ostream& out);
std::string UsageLine(const Command& command);

// The word of candidates closest to typed, when it is close enough to be what was meant.
std::optional<std::string> Closest(std::string_view typed,
                                   const std::vector<std::string>& candidates);

// What a shell may offer for the last of words (the command line after the program's name,
// the word being completed last, possibly empty): one candidate a line, or "@files" / "@dirs"
// alone when the shell should complete a file or folder name. domains gives the domains of the
// set for the commands that take one; it is asked only then.
void Complete(std::ostream& out, const std::vector<Command>& commands,
              const std::vector<std::string>& words,
              std::vector<std::string> (*domains)(const std::vector<std::string>& words));

} // namespace ctl
