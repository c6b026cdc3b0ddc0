#include "ctl/CommandLine.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <deque>
#include <ostream>
#include <set>

#ifndef KORVANE_VERSION
#define KORVANE_VERSION "4.0"
#endif

namespace ctl {

const std::vector<OptionSpec>& Options() {
    static const std::vector<OptionSpec> options = {
        {"config-dir", 'c', "VERZEICHNIS",
         "das Konfigurationsverzeichnis; sonst gilt MAILCONFIGDIR", "@dirs"},
        {"no-restart", 0, nullptr, "speichert, ohne die laufenden Dienste neu zu starten", ""},
        {"wait", 0, "SEKUNDEN",
         "wartet so lange auf das Speichern eines anderen Programms (sonst 10)", ""},
        {"dry-run", 'n', nullptr,
         "zeigt nur, was der Befehl ändern würde (als Unified Diff), und schreibt nichts", ""},
        {"yes", 'y', nullptr, "bestätigt das Löschen im Voraus", ""},
        {"backup", 0, nullptr, "legt eine Backup-MX-Domain statt einer lokalen an", ""},
        {"password-file", 0, "DATEI", "liest das Kennwort aus der ersten Zeile der Datei",
         "@files"},
        {"password-stdin", 0, nullptr, "liest ein neues Kennwort von der Standardeingabe", ""},
        {"quota-mb", 0, "MB", "Speicherplatzlimit des Kontos in MB (0: keines)", ""},
        {"maxsize-kb", 0, "KB", "größte Mail in KB (0: keine Grenze)", ""},
        {"save-envelope", 0, "0|1", "ob die Envelope-Header erhalten bleiben", "0 1"},
        {"replace", 0, nullptr, "ersetzt ein Ziel, zu dem die Adresse schon führt", ""},
        {"format", 0, "FORMAT", "text oder json (export: csv)", "text json"},
        {"host-name", 0, "NAME", "der Name dieses Rechners für die Prüfung", ""},
        {"force", 0, nullptr, "setzt auch einen Schlüssel, den keine Seite kennt", ""},
        {"output", 'o', "DATEI", "schreibt in die Datei statt auf die Standardausgabe", "@files"},
        {"bom", 0, nullptr, "setzt die UTF-8-Markierung an den Anfang", ""},
        {"diff", 0, nullptr, "zeigt beim Probelauf auch die Unterschiede der Dateien", ""},
        {"all-or-nothing", 0, nullptr, "importiert nichts, wenn eine Zeile abgelehnt wird", ""},
        {"keep", 0, "ANZAHL", "behält die ANZAHL neuesten Sicherungen", ""},
        {"older-than", 0, "TAGE", "löscht die Sicherungen, die älter als TAGE Tage sind", ""},
    };
    return options;
}

const OptionSpec* FindOption(std::string_view name) {
    for (const OptionSpec& option : Options())
        if (name == option.name)
            return &option;
    return nullptr;
}

bool TakesOption(const Command& command, std::string_view option) {
    if (std::find(std::begin(kGlobalOptions), std::end(kGlobalOptions), option) !=
        std::end(kGlobalOptions))
        return true;
    if (option == "dry-run")
        return command.changes;
    return std::find(command.options.begin(), command.options.end(), option) !=
           command.options.end();
}

namespace {

std::vector<std::string> Words(std::string_view text) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t space = std::min(text.find(' ', at), text.size());
        if (space > at)
            words.emplace_back(text.substr(at, space - at));
        at = space + 1;
    }
    return words;
}

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

// The options a command takes, in the table's order, "dry-run" and the global ones included.
std::vector<const OptionSpec*> OptionsOf(const Command* command) {
    std::vector<const OptionSpec*> options;
    for (const OptionSpec& option : Options())
        if (command ? TakesOption(*command, option.name)
                    : std::find(std::begin(kGlobalOptions), std::end(kGlobalOptions),
                                std::string_view(option.name)) != std::end(kGlobalOptions))
            options.push_back(&option);
    return options;
}

std::vector<std::string> OptionNames(const Command* command) {
    std::vector<std::string> names;
    for (const OptionSpec* option : OptionsOf(command))
        names.push_back(std::string("--") + option->name);
    for (const char* always : {"--help", "--version", "--help-all"})
        if (!command || std::string_view(always) == "--help")
            names.emplace_back(always);
    return names;
}

std::string DidYouMean(std::string_view typed, const std::vector<std::string>& candidates) {
    const auto closest = Closest(typed, candidates);
    return closest ? " Meinten Sie " + Quoted(*closest) + "?" : std::string();
}

std::string UnknownOption(std::string_view typed, const Command* command) {
    const std::string name(typed.substr(0, typed.find('=')));
    std::string text = "Unbekannte Option " + Quoted(name) + ".";
    const std::string hint = DidYouMean(name, OptionNames(command));
    if (!hint.empty())
        return text + hint;
    // A word with one dash is taken for short options; an argument such as "-5" goes after "--".
    if (name.size() > 1 && name[1] != '-')
        text += " Ein Argument, das mit \"-\" beginnt, steht hinter \"--\".";
    return text;
}

std::vector<std::string> FirstWords(const std::vector<Command>& commands) {
    std::vector<std::string> words;
    for (const Command& command : commands) {
        const std::string first = Words(command.words).front();
        if (std::find(words.begin(), words.end(), first) == words.end())
            words.push_back(first);
    }
    words.emplace_back("help");
    return words;
}

std::vector<std::string> SecondWords(const std::vector<Command>& commands, std::string_view first) {
    std::vector<std::string> words;
    for (const Command& command : commands) {
        const auto parts = Words(command.words);
        if (parts.size() == 2 && parts[0] == first)
            words.push_back(parts[1]);
    }
    return words;
}

const Command* FindCommand(const std::vector<Command>& commands,
                           const std::vector<std::string>& words, std::size_t& taken) {
    for (const Command& command : commands) {
        const auto parts = Words(command.words);
        if (words.size() >= parts.size() && std::equal(parts.begin(), parts.end(), words.begin())) {
            taken = parts.size();
            return &command;
        }
    }
    return nullptr;
}

// One app's copy of every option: CLI11 keeps what it found there.
struct OptionSlots {
    std::vector<CLI::Option*> slots; // in the order of Options()
    CLI::Option* help = nullptr;
};

OptionSlots AddOptions(CLI::App& app) {
    OptionSlots added;
    for (const OptionSpec& declared : Options()) {
        std::string names = std::string("--") + declared.name;
        if (declared.shortName)
            names = std::string("-") + declared.shortName + "," + names;
        CLI::Option* option = declared.value ? app.add_option(names) : app.add_flag(names);
        option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        added.slots.push_back(option);
    }
    added.help = app.add_flag("-h,--help");
    return added;
}

// The option a CLI11 message starts with ("--wait: 1 required ..."), for a German message.
std::string OptionInMessage(const std::string& message) {
    const std::size_t colon = message.find(':');
    std::string name = message.substr(0, colon == std::string::npos ? 0 : colon);
    const std::size_t comma = name.rfind(',');
    if (comma != std::string::npos)
        name = name.substr(comma + 1);
    return name;
}

// The width of text on a terminal: characters, not bytes, for the texts are UTF-8.
std::size_t Columns(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

void Wrap(std::ostream& out, std::string_view text, std::size_t indent, std::size_t width = 79) {
    std::size_t column = indent;
    bool first = true;
    for (const std::string& word : Words(text)) {
        const std::size_t length = Columns(word);
        if (!first && column + 1 + length > width) {
            out << '\n' << std::string(indent, ' ');
            column = indent;
        } else if (!first) {
            out << ' ';
            ++column;
        }
        out << word;
        column += length;
        first = false;
    }
    out << '\n';
}

// A help line: left in the first 30 columns (or a line of its own), text wrapped beside it.
void TwoColumns(std::ostream& out, const std::string& left, std::string_view text) {
    constexpr std::size_t kColumn = 30;
    out << left;
    if (Columns(left) + 2 > kColumn)
        out << '\n' << std::string(kColumn, ' ');
    else
        out << std::string(kColumn - Columns(left), ' ');
    Wrap(out, text, kColumn);
}

void PrintOptionLines(std::ostream& out, const std::vector<const OptionSpec*>& options) {
    for (const OptionSpec* option : options) {
        std::string left = option->shortName ? std::string("  -") + option->shortName + ", "
                                             : std::string("      ");
        left += std::string("--") + option->name;
        if (option->value)
            left += std::string("=") + option->value;
        TwoColumns(out, left, option->help);
    }
}

std::string FirstSentence(std::string_view text) {
    const std::size_t end = text.find(". ");
    return std::string(text.substr(0, end == std::string_view::npos ? text.size() : end + 1));
}

} // namespace

std::optional<std::string> Closest(std::string_view typed,
                                   const std::vector<std::string>& candidates) {
    std::optional<std::string> best;
    std::size_t bestDistance = std::max<std::size_t>(1, typed.size() / 3) + 1;
    std::size_t prefixed = 0;
    std::string prefixedBy;
    for (const std::string& candidate : candidates) {
        if (typed.size() >= 3 && candidate.starts_with(typed)) {
            ++prefixed;
            prefixedBy = candidate;
        }
        // Levenshtein distance, one row at a time.
        std::vector<std::size_t> row(candidate.size() + 1);
        for (std::size_t j = 0; j <= candidate.size(); ++j)
            row[j] = j;
        for (std::size_t i = 1; i <= typed.size(); ++i) {
            std::size_t diagonal = row[0];
            row[0] = i;
            for (std::size_t j = 1; j <= candidate.size(); ++j) {
                const std::size_t above = row[j];
                row[j] = std::min({row[j] + 1, row[j - 1] + 1,
                                   diagonal + (typed[i - 1] == candidate[j - 1] ? 0 : 1)});
                diagonal = above;
            }
        }
        if (row.back() < bestDistance) {
            bestDistance = row.back();
            best = candidate;
        }
    }
    // An abbreviation that fits one candidate alone is what GNU programs would have taken.
    if (!best && prefixed == 1)
        best = prefixedBy;
    return best;
}

Parsed ParseCommandLine(const std::vector<Command>& commands,
                        const std::vector<std::string>& arguments) {
    Parsed parsed;
    CLI::App root("", "korvanectl");
    root.set_help_flag();
    root.allow_extras();
    // One command per call. Once it is chosen, CLI11 stops taking words for the names of other
    // commands ("alias add team@x check" keeps "check" as the target).
    root.require_subcommand(0, 1);
    const OptionSlots rootOptions = AddOptions(root);
    CLI::Option* version = root.add_flag("--version");
    CLI::Option* helpAll = root.add_flag("--help-all");
    std::vector<std::string> helpWords;
    CLI::App* helpCommand = root.add_subcommand("help");
    helpCommand->allow_extras();
    helpCommand->add_option("words", helpWords);

    struct Leaf {
        const Command* command;
        CLI::App* app;
        OptionSlots options;
        std::vector<std::string> args;
    };
    std::deque<Leaf> leaves; // the apps keep pointers into it
    std::map<std::string, CLI::App*> groups;
    for (const Command& command : commands) {
        const auto parts = Words(command.words);
        CLI::App* parent = &root;
        if (parts.size() == 2) {
            CLI::App*& group = groups[parts[0]];
            if (!group) {
                // Options between the words go to the top, where every option is known.
                group = root.add_subcommand(parts[0]);
                group->fallthrough();
                group->allow_extras();
                group->require_subcommand(0, 1);
            }
            parent = group;
        }
        // A command's own app does not fall through: an argument that happens to be another
        // command's word ("alias add team@x list") stays an argument.
        Leaf& leaf =
            leaves.emplace_back(Leaf{&command, parent->add_subcommand(parts.back()), {}, {}});
        leaf.app->allow_extras();
        leaf.options = AddOptions(*leaf.app);
        leaf.app->add_option("args", leaf.args);
    }

    // "--" ends the options. CLI11 hands what follows it to different apps depending on what
    // came before, so the arguments after it are split off here and go to the command as they
    // are.
    const auto optionsEnd = std::find(arguments.begin(), arguments.end(), "--");
    const std::vector<std::string> operands(
        optionsEnd == arguments.end() ? optionsEnd : optionsEnd + 1, arguments.end());
    // What CLI11 would read in a way nobody means: "--yes=false" as a "--yes" that was given,
    // "--config-dir=" as taking the next word, "-yes" as "-y" followed by an unknown "-es".
    for (auto it = arguments.begin(); it != optionsEnd; ++it) {
        const std::size_t equals = it->find('=');
        if (it->starts_with("--") && equals != std::string::npos) {
            const std::string name = it->substr(0, equals);
            const OptionSpec* declared = FindOption(name.substr(2));
            if ((declared && !declared->value) || name == "--help" || name == "--version" ||
                name == "--help-all") {
                parsed.error = "Die Option " + Quoted(name) + " nimmt keinen Wert.";
                return parsed;
            }
            if (declared && equals + 1 == it->size()) {
                parsed.error = "Die Option " + Quoted(name) + " braucht einen Wert.";
                return parsed;
            }
        } else if (it->size() > 2 && (*it)[0] == '-' && (*it)[1] != '-' &&
                   !std::isdigit(static_cast<unsigned char>((*it)[1]))) {
            // Short options in a row ("-yn"); one that takes a value takes the rest ("-cDIR").
            bool shortOptions = true;
            for (std::size_t i = 1; i < it->size() && shortOptions; ++i) {
                const char c = (*it)[i];
                const auto option =
                    std::find_if(Options().begin(), Options().end(),
                                 [c](const OptionSpec& o) { return o.shortName == c; });
                shortOptions = c == 'h' || option != Options().end();
                if (option != Options().end() && option->value)
                    break;
            }
            if (!shortOptions) {
                const std::string name = "-" + it->substr(0, it->find('='));
                parsed.error = "Unbekannte Option " + Quoted(*it) + "." +
                               DidYouMean(name, OptionNames(nullptr));
                for (const OptionSpec& option : Options())
                    if (name == std::string("--") + option.name)
                        parsed.error = "Unbekannte Option " + Quoted(*it) + ". Meinten Sie " +
                                       Quoted(std::string("--") + option.name) + "?";
                return parsed;
            }
        }
    }
    std::vector<std::string> reversed(std::make_reverse_iterator(optionsEnd), arguments.rend());
    try {
        root.parse(reversed);
    } catch (const CLI::ArgumentMismatch& e) {
        const std::string name = OptionInMessage(e.what());
        const OptionSpec* declared = FindOption(name.starts_with("--") ? name.substr(2) : "");
        parsed.error = declared && declared->value
                           ? "Die Option " + Quoted(name) + " braucht einen Wert (" + name + "=" +
                                 declared->value + " oder " + name + " " + declared->value + ")."
                           : "Die Option " + Quoted(name) + " nimmt keinen Wert.";
        return parsed;
    } catch (const CLI::ParseError& e) {
        parsed.error = "Die Befehlszeile ist nicht zu verstehen (" + std::string(e.what()) + ").";
        return parsed;
    }

    const Leaf* chosen = nullptr;
    for (const Leaf& leaf : leaves)
        if (leaf.app->parsed())
            chosen = &leaf;
    CLI::App* group = nullptr;
    for (const auto& [name, app] : groups)
        if (app->parsed())
            group = app;
    parsed.command = chosen ? chosen->command : nullptr;

    // What no app took: unknown options, and words that name no command.
    std::vector<std::string> extras = root.remaining();
    if (group)
        for (const std::string& word : group->remaining())
            extras.push_back(word);
    if (chosen)
        for (const std::string& word : chosen->app->remaining())
            extras.push_back(word);
    for (const std::string& extra : extras)
        if (extra.size() > 1 && extra[0] == '-') {
            parsed.error = UnknownOption(extra, parsed.command);
            return parsed;
        }
    if (chosen) {
        // A word before the command (or between its words) that no command takes.
        std::vector<std::string> before = root.remaining();
        if (group)
            before.insert(before.end(), group->remaining().begin(), group->remaining().end());
        if (!before.empty()) {
            parsed.error = "Unerwartetes Argument " + Quoted(before.front()) + " vor dem Befehl.";
            return parsed;
        }
    }
    const bool help = rootOptions.help->count() || (chosen && chosen->options.help->count());
    if (version->count()) {
        parsed.kind = Parsed::Kind::Version;
        return parsed;
    }
    if (helpAll->count()) {
        parsed.kind = Parsed::Kind::HelpAll;
        return parsed;
    }
    if (helpCommand->parsed()) {
        std::size_t taken = 0;
        parsed.command = helpWords.empty() ? nullptr : FindCommand(commands, helpWords, taken);
        parsed.kind = Parsed::Kind::Help;
        if (!helpWords.empty() && !parsed.command) {
            parsed.kind = Parsed::Kind::Usage;
            parsed.error = "Unbekannter Befehl " + Quoted(helpWords[0]) + ".";
        }
        return parsed;
    }
    if (!chosen) {
        if (help) {
            parsed.kind = Parsed::Kind::Help;
            return parsed;
        }
        if (group) {
            const std::string first = group->get_name();
            const auto seconds = SecondWords(commands, first);
            std::string list;
            for (const std::string& second : seconds)
                list += (list.empty() ? "" : ", ") + second;
            std::vector<std::string> whole; // "alias change", for the suggestion
            for (const std::string& second : seconds)
                whole.push_back(first + " " + second);
            parsed.error = extras.empty()
                               ? "Zu " + Quoted(first) + " fehlt der Befehl (" + list + ")."
                               : "Unbekannter Befehl " + Quoted(first + " " + extras[0]) + "." +
                                     DidYouMean(first + " " + extras[0], whole);
        } else if (extras.empty()) {
            parsed.error =
                operands.empty() ? "Kein Befehl angegeben." : "Vor \"--\" steht kein Befehl.";
        } else {
            parsed.error = "Unbekannter Befehl " + Quoted(extras[0]) + "." +
                           DidYouMean(extras[0], FirstWords(commands));
        }
        return parsed;
    }
    if (help) {
        parsed.kind = Parsed::Kind::Help;
        return parsed;
    }
    const Command& command = *chosen->command;
    for (std::size_t i = 0; i < Options().size(); ++i) {
        const OptionSpec& declared = Options()[i];
        CLI::Option* here = chosen->options.slots[i];
        CLI::Option* top = rootOptions.slots[i];
        CLI::Option* given = here->count() ? here : top->count() ? top : nullptr;
        if (!given)
            continue;
        if (!TakesOption(command, declared.name)) {
            parsed.error = "Die Option " + Quoted(std::string("--") + declared.name) +
                           " gibt es für " + Quoted(command.words) + " nicht.";
            return parsed;
        }
        parsed.call.options[declared.name] =
            declared.value ? std::optional<std::string>(given->results().back()) : std::nullopt;
    }
    parsed.call.args = chosen->args;
    parsed.call.args.insert(parsed.call.args.end(), operands.begin(), operands.end());
    if (parsed.call.args.size() < command.minArgs) {
        parsed.error = "Zu wenige Argumente.";
        return parsed;
    }
    if (parsed.call.args.size() > command.maxArgs) {
        parsed.error = "Zu viele Argumente.";
        return parsed;
    }
    parsed.kind = Parsed::Kind::Run;
    return parsed;
}

std::string UsageLine(const Command& command) {
    std::string line = std::string("korvanectl ") + command.words;
    if (command.options.size() || command.changes)
        line += " [OPTION...]";
    if (*command.usage)
        line += std::string(" ") + command.usage;
    return line;
}

void PrintVersion(std::ostream& out) {
    out << "korvanectl (Korvane MailServer 4.0) " KORVANE_VERSION "\n"
           "Die Konfiguration der Mailserver-Dienste auf der Befehlszeile.\n";
}

void PrintOverview(std::ostream& out, const std::vector<Command>& commands) {
    out << "Aufruf: korvanectl [OPTION...] BEFEHL [ARGUMENT...]\n";
    Wrap(out,
         "Bearbeitet die Konfiguration des Korvane MailServer 4.0 im Verzeichnis aus "
         "MAILCONFIGDIR (oder --config-dir) mit denselben Regeln wie das "
         "Konfigurationsprogramm: Domains, Mailkonten, Weiterleitungen, Schlüssel der "
         "Konfigurationsdateien, Prüfung, Zustellweg, Import, Export und Sicherungen.",
         0);
    out << "\nBefehle:\n";
    for (const Command& command : commands) {
        std::string left = std::string("  ") + command.words;
        if (*command.usage)
            left += std::string(" ") + command.usage;
        TwoColumns(out, left, FirstSentence(command.help));
    }
    out << "\nOptionen jedes Befehls:\n";
    std::vector<const OptionSpec*> options = OptionsOf(nullptr);
    options.push_back(FindOption("dry-run"));
    PrintOptionLines(out, options);
    static const OptionSpec kHelp[] = {
        {"help", 'h', nullptr, "zeigt diese Hilfe, nach einem Befehl die des Befehls", ""},
        {"help-all", 0, nullptr, "zeigt diese Hilfe und die jedes Befehls", ""},
        {"version", 0, nullptr, "zeigt die Version", ""},
    };
    PrintOptionLines(out, {&kHelp[0], &kHelp[1], &kHelp[2]});
    out << '\n';
    Wrap(out,
         "--dry-run gilt für jeden Befehl, der etwas ändert. Eine Option steht vor oder nach "
         "den Befehlswörtern, ihr Wert nach \"=\" oder als nächstes Argument; nach \"--\" ist "
         "alles ein Argument, auch was mit \"-\" beginnt.",
         0);
    out << '\n';
    Wrap(out,
         "Ende mit 0 bei Erfolg, 1 bei einer Ablehnung oder einem Fehler (die Änderung ist dann "
         "nicht gespeichert), 2 bei falschem Aufruf, 3 wenn die Änderung gespeichert ist, aber "
         "eine andere Datei nicht geschrieben werden konnte oder ein Dienst nicht neu startete.",
         0);
    out << "\n\"korvanectl BEFEHL --help\" beschreibt einen Befehl.\n";
}

namespace {

void PrintSaving(std::ostream& out) {
    Wrap(out,
         "Die Konfiguration wird wie mit \"OK\" gespeichert (mit Sicherungskopien), danach "
         "werden die laufenden Dienste neu gestartet, außer mit --no-restart. Speichert "
         "gerade ein anderes Programm, wird bis zu 10 Sekunden (--wait) gewartet, bevor "
         "etwas geändert wird. Hat ein Programm, das nicht wartet, seit dem Laden eine Datei "
         "geändert, wird nichts gespeichert. Ende mit 0, wenn die Änderung gespeichert ist; "
         "mit 1, wenn nicht (ein erneuter Aufruf ist dann richtig); mit 3, wenn sie "
         "gespeichert ist, aber eine andere Datei der Konfiguration nicht geschrieben werden "
         "konnte oder ein Dienst den Neustart nicht annahm (die Meldungen nennen sie).",
         0);
}

} // namespace

void PrintHelp(std::ostream& out, const Command& command, bool all) {
    // In the help of all commands (the manual page's source) each command is a heading, and
    // what every changing command shares is said once at the end.
    if (all)
        out << "Befehl " << command.words << ":\n  " << UsageLine(command) << "\n\n";
    else
        out << "Aufruf: " << UsageLine(command) << "\n\n";
    Wrap(out, command.help, 0);
    std::vector<const OptionSpec*> own;
    for (const std::string& name : command.options)
        own.push_back(FindOption(name));
    if (command.changes)
        own.push_back(FindOption("dry-run"));
    if (!own.empty()) {
        out << "\nOptionen des Befehls:\n";
        PrintOptionLines(out, own);
    }
    out << "\nBeispiel:\n  korvanectl " << command.example << '\n';
    if (command.changes && !command.withoutSet && !all) {
        out << '\n';
        PrintSaving(out);
    }
}

void PrintAllHelp(std::ostream& out, const std::vector<Command>& commands) {
    PrintOverview(out, commands);
    for (const Command& command : commands) {
        out << '\n';
        PrintHelp(out, command, true);
    }
    out << "\nBefehle, die etwas ändern:\n";
    PrintSaving(out);
}

void Complete(std::ostream& out, const std::vector<Command>& commands,
              const std::vector<std::string>& words,
              std::vector<std::string> (*domains)(const std::vector<std::string>& words)) {
    const std::string current = words.empty() ? std::string() : words.back();
    // The words before the current one: option values skipped, "--" ends the options.
    std::vector<std::string> plain;
    const OptionSpec* awaiting = nullptr; // an option whose value comes next
    bool optionsEnded = false;
    for (std::size_t i = 0; i + 1 < words.size(); ++i) {
        const std::string& word = words[i];
        awaiting = nullptr;
        if (optionsEnded || word == "-" || word.empty() || word[0] != '-') {
            plain.push_back(word);
        } else if (word == "--") {
            optionsEnded = true;
        } else if (word.starts_with("--")) {
            const OptionSpec* declared = FindOption(word.substr(2));
            if (declared && declared->value)
                awaiting = declared;
        } else if (word.size() == 2) {
            for (const OptionSpec& declared : Options())
                if (declared.shortName == word[1] && declared.value)
                    awaiting = &declared;
        }
    }
    std::size_t taken = 0;
    const Command* command = FindCommand(commands, plain, taken);
    std::vector<std::string> offer;
    const auto offerCompleter = [&](std::string_view completes) {
        if (completes.starts_with("@files") || completes.starts_with("@dirs")) {
            out << completes << '\n';
            return;
        }
        if (completes == "@domain" && domains) {
            offer = domains(words);
            return;
        }
        if (completes == "@setfile") {
            offer = {"smtpd.cfg",   "pop3d.cfg", "imap4d.cfg",
                     "syslogd.cfg", "mdad.cfg",  "smarthosts"};
            return;
        }
        std::string alternatives(completes);
        std::replace(alternatives.begin(), alternatives.end(), '|', ' ');
        for (const std::string& word : Words(alternatives))
            offer.push_back(word);
    };
    if (awaiting) {
        offerCompleter(awaiting->completes);
    } else if (!optionsEnded && current.starts_with("--") &&
               current.find('=') != std::string::npos) {
        if (const OptionSpec* declared = FindOption(current.substr(2, current.find('=') - 2)))
            offerCompleter(declared->completes);
    } else if (!optionsEnded && current.starts_with("-")) {
        offer = OptionNames(command);
    } else if (!command) {
        if (plain.empty())
            offer = FirstWords(commands);
        else if (plain.size() == 1)
            offer = SecondWords(commands, plain[0]);
    } else {
        const std::size_t position = plain.size() - taken;
        if (const char* completes = command->completes) {
            const auto each = Words(completes);
            if (position < each.size())
                offerCompleter(each[position]);
            else if (!each.empty() && each.back().ends_with("..."))
                offerCompleter(each.back().substr(0, each.back().size() - 3));
        }
    }
    for (const std::string& word : offer)
        out << word << '\n';
}

} // namespace ctl
