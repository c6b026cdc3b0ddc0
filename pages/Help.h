// Online help: the route from a help request (F1, the "&Hilfe" buttons) to the help viewer.
//
// A request carries a command and a data value, as the sheet's help operation receives them:
// context help with a context number, the contents, or the start page. The router maps the
// command to the viewer's, shows the wait cursor, opens the viewer on first use and shows
// "Die Hilfe konnte nicht gestartet werden." when nothing can be shown. The viewer itself is a
// window of the toolkit layer behind CHelpViewer.
//
// Where the help lives: on Windows it is one compiled help file beside the program, named like
// the program with the extension "chm". Here it is a folder of HTML pages named "help" beside
// the program: "index.html" is the contents, and each page or dialog has a page of its own.
#pragma once

#include "app/Prompter.h"

#include <functional>
#include <memory>
#include <span>
#include <string>

namespace help {

// Commands of a help request.
inline constexpr unsigned kRequestContext = 1;  // context help; data is the context number
inline constexpr unsigned kRequestContents = 3; // the contents
inline constexpr unsigned kRequestFinder = 11;  // the start page

// Commands the viewer understands.
inline constexpr unsigned kViewTopic = 0;    // a page: data 0 for the start page, else a context
inline constexpr unsigned kViewContents = 1; // the contents
inline constexpr unsigned kViewContext = 15; // the page of context number data

// The viewer command for a request command; commands without a counterpart pass unchanged.
unsigned MapRequestCommand(unsigned request);

// The context number of a page or dialog is this base plus its resource number.
inline constexpr unsigned long kDialogContextBase = 0x20000;

// Resource numbers of the pages and dialogs. The sheet uses the number of its caption; its
// pages follow in tab order; the delivery agent's advanced settings have always been 150.
// Dialogs that bring help of their own take a number from 140 to 149 or above 150 and add their
// row to the page table in Help.cpp.
namespace resource {
inline constexpr unsigned kSheet = 128;
inline constexpr unsigned kPageDomains = 130;
inline constexpr unsigned kPageFolders = 131;
inline constexpr unsigned kPageSmtp = 132;
inline constexpr unsigned kPagePop3 = 133;
inline constexpr unsigned kPageImap4 = 134;
inline constexpr unsigned kPageDelivery = 135;
inline constexpr unsigned kPageSyslog = 136;
// The dialogs of the domains page: F1 only, they have no help button.
inline constexpr unsigned kAddDomainDlg = 140;
inline constexpr unsigned kAddAliasDlg = 141;
inline constexpr unsigned kAddAccountDlg = 142;
inline constexpr unsigned kChangeAccountDlg = 143;
// The dialogs of the server and delivery pages.
inline constexpr unsigned kInterfaceDlg = 144;
inline constexpr unsigned kSmtpAdvanced = 145;
inline constexpr unsigned kPop3Advanced = 146;
inline constexpr unsigned kImap4Advanced = 147;
inline constexpr unsigned kTransportRules = 148;
inline constexpr unsigned kTransportRule = 149;
inline constexpr unsigned kDeliveryAdvanced = 150;
// The sheet's windows beside the pages: what OK would save, and the backup copies.
inline constexpr unsigned kChangesWindow = 151;
inline constexpr unsigned kBackupsWindow = 152;
// The check of the configuration and the trace of an address.
inline constexpr unsigned kCheckWindow = 153;
inline constexpr unsigned kTraceWindow = 154;
} // namespace resource

constexpr unsigned long ContextOf(unsigned resourceNumber) {
    return kDialogContextBase + resourceNumber;
}

// The file names of the help folder.
inline constexpr const char* kContentsPage = "index.html";
inline constexpr const char* kFolderName = "help";
// The program's folder under the installation's "share" (FHS: /usr/share/korvane-configurator).
inline constexpr const char* kShareName = "korvane-configurator";

// One row of the page table: a context number and the page that explains it.
struct ContextPage {
    unsigned long context;
    const char* file;
};
std::span<const ContextPage> ContextPages();

// The page of a context number; null for a number the table does not know.
const char* PageOfContext(unsigned long context);

// The full path of the page a viewer command asks for in the help folder: the contents for
// kViewContents, the start page for kViewTopic with data 0, the page of the context number
// otherwise. Empty when the command or the context number is unknown. Whether the page exists
// is for the viewer to find out.
std::string PagePath(const std::string& helpFolder, unsigned viewerCommand, unsigned long data);

// The help folder for the program at programPath: "../share/korvane-configurator/help" from its
// folder when that exists (an installed program: /usr/bin and /usr/share, or any other prefix),
// else "help" beside it when that folder exists (the Windows layout), otherwise fallback when that one exists (a build that runs from its build tree names its
// source tree here), otherwise "help" beside the program, which the router then reports missing.
std::string FindHelpFolder(const std::string& programPath, const std::string& fallback);

} // namespace help

// The viewer: shows a page of the help folder. False when it cannot show anything (no such
// page, an unknown context number or command).
class CHelpViewer {
public:
    virtual ~CHelpViewer() = default;
    virtual bool Show(const std::string& helpFolder, unsigned command, unsigned long data) = 0;
};

// The sheet's help operation. Every help request of the program ends here.
class CHelpRouter {
public:
    // Makes the viewer; asked once, on the first request. Null when there is no viewer.
    using ViewerFactory = std::function<std::unique_ptr<CHelpViewer>()>;
    // Shows the wait cursor (true) and takes it away again (false).
    using BusyHook = std::function<void(bool busy)>;

    CHelpRouter(CPrompter& prompter, std::string helpFolder, ViewerFactory factory,
                BusyHook busy = {});
    ~CHelpRouter();
    CHelpRouter(const CHelpRouter&) = delete;
    CHelpRouter& operator=(const CHelpRouter&) = delete;

    // A help request: command as the request gives it (kRequest...), data its context number.
    // Shows the failure message when the help cannot be shown; nothing else is affected.
    void WinHelp(unsigned long data, unsigned command);

    const std::string& helpFolder() const { return m_helpFolder; }

    // The text shown when the help cannot be started.
    static constexpr const char* kFailureText = "Die Hilfe konnte nicht gestartet werden.";

private:
    // The viewer, made on the first call; null once making it has failed.
    CHelpViewer* Viewer();

    CPrompter& m_prompter;
    std::string m_helpFolder;
    ViewerFactory m_factory;
    BusyHook m_busy;
    std::unique_ptr<CHelpViewer> m_viewer;
    bool m_failed = false; // no help folder or no viewer: every request fails at once
};
