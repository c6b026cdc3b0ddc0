// What the commands of korvanectl share: the command line taken apart, the context a handler
// runs in, and the helpers that turn arguments into the files' code page and back.
#pragma once

#include "ctl/CommandLine.h"
#include "ctl/Commands.h"

#include "Common/Ansi.h"
#include "app/BatchPrompter.h"
#include "app/ConfigSet.h"
#include "pages/PageDomains.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace ctl {

struct Context {
    CConfigSet& set;
    CBatchPrompter& prompter;
    const Invocation& call;
    Streams& io;
    std::string password; // code page; read before the load for the commands that take one
    // A changing command that only looked (a dry run) writes nothing; one that applied part of
    // its work and refused the rest saves what it applied.
    bool save = true;
    bool saveAnyway = false;
    // The line printed once the change is on disk, when the handler words it itself (UTF-8).
    std::string done{};
};

// --- Helpers of the handlers -----------------------------------------------------------------

inline std::string Utf8(std::string_view ansiText) {
    return ansi::ToUtf8(ansiText);
}

inline int Refuse(Context& c, const std::string& utf8Text) {
    c.io.err << "Fehler: " << utf8Text << '\n';
    return kFailed;
}

// The page as the sheet shows it, with its tree built; the host checks of its first show are
// the sheet's and the check command's business, not that of an operation.
struct DomainsPage {
    explicit DomainsPage(Context& c) : context(c), page(c.set) { page.RebuildTree(); }

    // Selects the tree node of domain (any letter case), or the root for an empty one.
    bool SelectDomain(std::string_view domain) {
        const CTreeModel& tree = page.Tree();
        for (CTreeModel::NodeId node = 0; node < tree.NodeCount(); ++node) {
            const bool root = tree.Parent(node) == CTreeModel::kNone;
            if (domain.empty() ? root : !root && ansi::EqualNoCase(tree.Text(node), domain)) {
                page.TreeOf(CPageDomains::kDomainTree)->Select(node);
                page.SelectionChanged(CPageDomains::kDomainTree, context.prompter);
                return true;
            }
        }
        return false;
    }
    // Selects the address list's row of address; its icon, or nothing when there is none.
    std::optional<int> SelectRow(std::string_view address) {
        const auto row = page.Rows().Find(address);
        if (!row)
            return std::nullopt;
        page.RowsOf(CPageDomains::kAddressList)->Select(row);
        return page.Rows().RowIcon(*row);
    }
    int Run(const char* command) {
        page.RunCommand(command, context.prompter);
        return context.prompter.HadError() ? kFailed : kOk;
    }

    Context& context;
    CPageDomains page;
};

// An argument of the command line (UTF-8) in the code page of the files; nothing, after the
// message, when it holds characters the code page does not have.
inline std::optional<std::string> FromArgument(Context& c, const std::string& utf8Text) {
    bool representable = true;
    std::string text = ansi::FromUtf8(utf8Text, &representable);
    if (representable)
        return text;
    Refuse(c, "\"" + utf8Text +
                  "\" enthält Zeichen, die die Konfigurationsdateien nicht "
                  "darstellen können (Windows-1252).");
    return std::nullopt;
}

// Splits "local@domain"; an address without "@" belongs to no domain (the tree's root).
struct Address {
    std::string local;
    std::string domain;
    bool hasAt = false; // "x@" names no domain, but is no account of the root either
};
inline Address SplitAddress(const std::string& address) {
    const std::size_t at = address.find('@');
    if (at == std::string::npos)
        return {address, {}, false};
    return {address.substr(0, at), address.substr(at + 1), true};
}

// The checks a typed value gets in the window, for the values a command filled into dialog:
// the field table's limits, and no line break or other control character that would end up in
// a file. False after the German refusal (an error, naming the field).
bool TakeFilled(CDialogModel& dialog, CPrompter& prompter);
// SetDialogFiller for a filler whose values then go through TakeFilled.
void SetCheckedFiller(Context& c, std::function<void(CDialogModel&)> fill);

inline int NoSuchDomain(Context& c, const std::string& domain) {
    return Refuse(c, "Die Domain \"" + Utf8(domain) + "\" ist nicht vorhanden.");
}

// Whether the command was asked for JSON ("--format=json"); false after the refusal of a
// format other than text and json, which sets failed.
bool WantsJson(Context& c, bool& failed);
// Writes a JSON document (from nlohmann::ordered_json; strings UTF-8) as one line.
void PrintJson(Context& c, const nlohmann::ordered_json& document);

// The transfer commands (Transfer.cpp).
int Export(Context& c);
int Import(Context& c);
int AccountChange(Context& c);

// The backup commands (Backup.cpp): they work on "backup.cfg" without loading the set.
int BackupList(Context& c);
int BackupShow(Context& c);
int BackupRestore(Context& c);
int BackupPrune(Context& c);

} // namespace ctl
