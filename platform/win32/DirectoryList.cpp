#include "platform/DirectoryList.h"
#include "platform/win32/Text.h"

#include <windows.h>

namespace platform {

using win32::AnsiFromWide;
using win32::WideFromAnsi;

namespace {

// The entry's name in the ANSI code page the program works in. A long name with a character
// that code page lacks would come out with "?" and lead nowhere; its short name, where the
// volume keeps one, still opens the entry.
std::string NarrowName(const WIN32_FIND_DATAW& found) {
    bool exact = true;
    std::string name = AnsiFromWide(found.cFileName, &exact);
    if (!exact && found.cAlternateFileName[0] != L'\0') {
        bool shortExact = true;
        std::string shortName = AnsiFromWide(found.cAlternateFileName, &shortExact);
        if (shortExact)
            return shortName;
    }
    return name;
}

} // namespace

struct DirectoryListing::Impl {
    HANDLE search = INVALID_HANDLE_VALUE;
    bool open = false;
    WIN32_FIND_DATAW pending{}; // the entry the search has found and Next has not reported yet
    bool sawDot = false;
    bool sawDotDot = false;

    void Close() {
        if (search != INVALID_HANDLE_VALUE)
            ::FindClose(search);
        search = INVALID_HANDLE_VALUE;
    }
};

DirectoryListing::DirectoryListing(const std::string& directory)
    : m_impl(std::make_unique<Impl>()) {
    std::wstring pattern = WideFromAnsi(directory);
    if (pattern.empty()) {
        m_impl->sawDot = m_impl->sawDotDot = true; // as opendir(""): no such directory
        return;
    }
    if (pattern.back() != L'\\' && pattern.back() != L'/' && pattern.back() != L':')
        pattern += L'\\';
    pattern += L'*';
    // The search finds the first entry at once; it waits in pending for the first Next. The
    // short names are asked for only because NarrowName may need them.
    m_impl->search = ::FindFirstFileExW(pattern.c_str(), FindExInfoStandard, &m_impl->pending,
                                        FindExSearchNameMatch, nullptr, 0);
    m_impl->open = m_impl->search != INVALID_HANDLE_VALUE;
    if (!m_impl->open && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
        // An empty volume root finds nothing at all, not even "." and ".."; it is open and
        // empty all the same.
        pattern.pop_back();
        const DWORD attributes = ::GetFileAttributesW(pattern.c_str());
        m_impl->open =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    if (!m_impl->open) {
        // Nothing to report for a directory that is not there.
        m_impl->sawDot = m_impl->sawDotDot = true;
    }
}

DirectoryListing::~DirectoryListing() {
    m_impl->Close();
}

bool DirectoryListing::IsOpen() const {
    return m_impl->open;
}

bool DirectoryListing::Next(DirectoryEntry& entry) {
    Impl& impl = *m_impl;
    if (impl.search != INVALID_HANDLE_VALUE) {
        const WIN32_FIND_DATAW& found = impl.pending;
        entry.name = NarrowName(found);
        if (entry.name == ".") {
            impl.sawDot = true;
            entry.isDirectory = true;
        } else if (entry.name == "..") {
            impl.sawDotDot = true;
            entry.isDirectory = true;
        } else {
            // The entry's own kind: a link or junction to a folder carries the folder attribute
            // on Windows, but is reported as a plain entry, so that a recursive deletion never
            // walks through it.
            entry.isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
        }
        // A read error mid-way ends the listing as its end does.
        if (!::FindNextFileW(impl.search, &impl.pending))
            impl.Close();
        return true;
    }
    // A volume's root folder has no "." or ".." on Windows; they are reported all the same, so
    // that every listing looks alike to the callers that skip them.
    if (!impl.sawDot) {
        impl.sawDot = true;
        entry = {".", true};
        return true;
    }
    if (!impl.sawDotDot) {
        impl.sawDotDot = true;
        entry = {"..", true};
        return true;
    }
    impl.open = false; // the listing has closed itself
    return false;
}

} // namespace platform
