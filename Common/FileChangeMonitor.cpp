#include "Common/FileChangeMonitor.h"

#include "Common/DiagLog.h"
#include "platform/FileSystem.h"

#include <utility>

namespace {

// The source name the suite's log lines carry for this module; the services log under the
// same name, so the lines look alike whoever wrote them.
constexpr const char* kSource = "Common\\FileChangeMonitor";

unsigned ErrorCode(int error) {
    return static_cast<unsigned>(error);
}

void LogCloseFailure(int line, int error) {
    DiagLog().LogError("CloseHandle in %s:%d failed, error-code: 0x%08X", kSource, line,
                       ErrorCode(error));
}

} // namespace

CFileChangeMonitorEx::CFileChangeMonitorEx() : m_watch(platform::CreateDirectoryWatch()) {}

CFileChangeMonitorEx::CFileChangeMonitorEx(std::unique_ptr<platform::DirectoryWatch> watch)
    : m_watch(std::move(watch)) {}

CFileChangeMonitorEx::~CFileChangeMonitorEx() {
    Stop();
}

bool CFileChangeMonitorEx::Start(const std::string& directory, std::uint32_t filter,
                                 bool watchSubtree) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_watch->HasNotifier() || m_watch->HasDirectory()) {
        DiagLog().LogError("CFileChangeMonitorEx in %s:%d already created", kSource, 112);
        return false;
    }
    m_filter = filter;
    m_watchSubtree = watchSubtree;

    if (int error = m_watch->OpenDirectory(directory)) {
        DiagLog().LogError("CreateFile in %s:%d on \"%s\" failed, error-code: 0x%08X", kSource, 123,
                           directory.c_str(), ErrorCode(error));
        return false;
    }
    if (int error = m_watch->CreateNotifier()) {
        DiagLog().LogError("CreateEvent in %s:%d failed, error-code: 0x%08X", kSource, 130,
                           ErrorCode(error));
        // The directory is released here and counts as not held from now on, whatever its
        // close reports: keeping it marked would refuse every later Start as "already
        // created" and close the same handle a second time in Stop.
        if (int closeError = m_watch->CloseDirectory())
            LogCloseFailure(134, closeError);
        return false;
    }
    if (int error = m_watch->AddWatch(m_filter, m_watchSubtree)) {
        DiagLog().LogError("ReadDirectoryChangesW in %s:%d failed, error-code: 0x%08X", kSource,
                           147, ErrorCode(error));
        if (int closeError = m_watch->CloseNotifier())
            LogCloseFailure(151, closeError);
        if (int closeError = m_watch->CloseDirectory())
            LogCloseFailure(158, closeError);
        return false;
    }
    return true;
}

bool CFileChangeMonitorEx::TakeChanges(std::vector<platform::DirectoryChange>& changes) {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_watch->TakeChanges(changes);
}

void CFileChangeMonitorEx::Stop() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_watch->HasNotifier()) {
        if (int error = m_watch->CloseNotifier())
            LogCloseFailure(177, error);
    }
    if (m_watch->HasDirectory()) {
        if (int error = m_watch->CloseDirectory())
            LogCloseFailure(187, error);
    }
}

bool CFileChangeMonitorEx::IsArmed() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_watch->HasNotifier() && m_watch->HasDirectory();
}

namespace {

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// "*" and "?" matching without the trailing ".*" rule. A "*" that fails to lead to a match is
// retried one character further on, and only the latest "*" is ever retried: that is enough
// for a correct answer and keeps the work at pattern length times name length, whatever the
// pattern.
bool MatchWildcards(std::string_view pattern, std::string_view name) {
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::string_view::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            starName = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || FoldCase(pattern[p]) == FoldCase(name[n]))) {
            ++p;
            ++n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace

bool MatchFileName(std::string_view pattern, std::string_view name) {
    if (MatchWildcards(pattern, name))
        return true;
    // "bob.*" finds "bob", and so "*.*" finds every name: the spool scan relies on it to see
    // accounts made without a domain, whose folder names have no dot.
    return pattern.ends_with(".*") && MatchWildcards(pattern.substr(0, pattern.size() - 2), name);
}

CDirectoryScan::CDirectoryScan(std::string pattern) : m_pattern(std::move(pattern)) {}

CDirectoryScan::~CDirectoryScan() = default; // the listing closes itself

bool CDirectoryScan::Next() {
    if (!m_started) {
        m_started = true;
        // Without a directory part the pattern names entries of the current directory; "/x"
        // keeps its root.
        const auto separator = m_pattern.find_last_of(platform::kPathSeparators);
        const bool hasDirectory = separator != std::string::npos;
        const std::string directory(
            hasDirectory ? std::string_view(m_pattern).substr(0, separator == 0 ? 1 : separator)
                         : std::string_view("."));
        m_namePattern = hasDirectory ? m_pattern.substr(separator + 1) : m_pattern;
        m_listing = std::make_unique<platform::DirectoryListing>(directory);
        if (!m_listing->IsOpen()) {
            m_listing.reset();
            m_unreadable = true;
        }
    }
    if (m_listing) {
        while (m_listing->Next(m_current)) {
            if (MatchFileName(m_namePattern, m_current.name))
                return true;
        }
        // Exhausted: give the directory handle back now rather than when the scan goes.
        m_listing.reset();
    }
    m_current = {};
    return false;
}
