#include "pages/Help.h"

#include "Common/MapEx.h"
#include "platform/FileSystem.h"

#include <exception>
#include <iterator>
#include <utility>

namespace help {
namespace {

// Pages that have no help yet still have their row: the request then fails with the message
// until the page is written, and nothing else has to change when it lands.
const ContextPage kPages[] = {
    {ContextOf(resource::kSheet), "sheet.html"},
    {ContextOf(resource::kPageDomains), "domains.html"},
    {ContextOf(resource::kPageFolders), "folders.html"},
    {ContextOf(resource::kPageSmtp), "smtp.html"},
    {ContextOf(resource::kPagePop3), "pop3.html"},
    {ContextOf(resource::kPageImap4), "imap4.html"},
    {ContextOf(resource::kPageDelivery), "delivery.html"},
    {ContextOf(resource::kPageSyslog), "syslog.html"},
    {ContextOf(resource::kAddDomainDlg), "add-domain.html"},
    {ContextOf(resource::kAddAliasDlg), "add-alias.html"},
    {ContextOf(resource::kAddAccountDlg), "add-account.html"},
    {ContextOf(resource::kChangeAccountDlg), "change-account.html"},
    {ContextOf(resource::kTransportRules), "transport-rules.html"},
    {ContextOf(resource::kTransportRule), "transport-rule.html"},
    {ContextOf(resource::kInterfaceDlg), "interface.html"},
    {ContextOf(resource::kSmtpAdvanced), "smtp-advanced.html"},
    {ContextOf(resource::kPop3Advanced), "pop3-advanced.html"},
    {ContextOf(resource::kImap4Advanced), "imap4-advanced.html"},
    {ContextOf(resource::kDeliveryAdvanced), "delivery-advanced.html"},
    {ContextOf(resource::kChangesWindow), "changes.html"},
    {ContextOf(resource::kBackupsWindow), "backups.html"},
    {ContextOf(resource::kCheckWindow), "check.html"},
    {ContextOf(resource::kTraceWindow), "trace.html"},
};

bool IsDirectory(const std::string& path) {
    const auto status = platform::StatPath(path);
    return status && status->isDirectory;
}

std::string Directory(const std::string& path) {
    const auto slash = path.find_last_of(platform::kPathSeparators);
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// Turns the wait cursor on for one block and off again however the block is left.
class CBusyScope {
public:
    explicit CBusyScope(const CHelpRouter::BusyHook& hook) : m_hook(hook) {
        if (m_hook)
            m_hook(true);
    }
    ~CBusyScope() {
        if (m_hook)
            m_hook(false);
    }
    CBusyScope(const CBusyScope&) = delete;
    CBusyScope& operator=(const CBusyScope&) = delete;

private:
    const CHelpRouter::BusyHook& m_hook;
};

} // namespace

unsigned MapRequestCommand(unsigned request) {
    switch (request) {
    case kRequestContext:
        return kViewContext;
    case kRequestContents:
        return kViewContents;
    case kRequestFinder:
        return kViewTopic;
    default:
        return request;
    }
}

std::span<const ContextPage> ContextPages() {
    return kPages;
}

const char* PageOfContext(unsigned long context) {
    for (const ContextPage& page : kPages)
        if (page.context == context)
            return page.file;
    return nullptr;
}

std::string PagePath(const std::string& helpFolder, unsigned viewerCommand, unsigned long data) {
    const char* file = nullptr;
    if (viewerCommand == kViewContents || (viewerCommand == kViewTopic && data == 0))
        file = kContentsPage;
    else if (viewerCommand == kViewContext || viewerCommand == kViewTopic)
        file = PageOfContext(data);
    return file ? PathJoin(helpFolder, file) : std::string();
}

std::string FindHelpFolder(const std::string& programPath, const std::string& fallback) {
    const std::string programFolder = Directory(programPath);
    const std::string shared =
        PathJoin(PathJoin(PathJoin(Directory(programFolder), "share"), kShareName), kFolderName);
    if (IsDirectory(shared))
        return shared;
    const std::string beside = PathJoin(programFolder, kFolderName);
    if (IsDirectory(beside) || fallback.empty() || !IsDirectory(fallback))
        return beside;
    return fallback;
}

} // namespace help

CHelpRouter::CHelpRouter(CPrompter& prompter, std::string helpFolder, ViewerFactory factory,
                         BusyHook busy)
    : m_prompter(prompter), m_helpFolder(std::move(helpFolder)), m_factory(std::move(factory)),
      m_busy(std::move(busy)) {}

CHelpRouter::~CHelpRouter() = default;

CHelpViewer* CHelpRouter::Viewer() {
    if (m_viewer || m_failed)
        return m_viewer.get();
    // Looked for once: without the folder there is nothing to show, and a viewer that could
    // not be made will not appear later in the run.
    m_failed = true;
    if (!help::IsDirectory(m_helpFolder) || !m_factory)
        return nullptr;
    try {
        m_viewer = m_factory();
    } catch (const std::exception&) {
        m_viewer.reset();
    }
    m_failed = m_viewer == nullptr;
    return m_viewer.get();
}

void CHelpRouter::WinHelp(unsigned long data, unsigned command) {
    const unsigned viewerCommand = help::MapRequestCommand(command);
    bool shown = false;
    {
        help::CBusyScope busy(m_busy);
        try {
            if (CHelpViewer* viewer = Viewer())
                shown = viewer->Show(m_helpFolder, viewerCommand, data);
        } catch (const std::exception&) {
            shown = false; // a viewer that breaks down has shown nothing
        }
    }
    // The message waits for the user, so the wait cursor is gone before it opens.
    if (!shown)
        m_prompter.ShowText(kFailureText, MessageKind::Error);
}
