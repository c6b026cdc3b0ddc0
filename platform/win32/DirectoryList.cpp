#include "platform/DirectoryList.h"

#include <windows.h>

#include <cwchar>

namespace platform {

namespace {

std::wstring WidePath(const std::string& text) {
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, out.data(), n);
    return out;
}

// The entry's name in the ANSI code page the program works in. A long name with a character
// that code page lacks would come out with "?" and lead nowhere; its short name, where the
// volume keeps one, still opens the entry.
std::string NarrowName(const WIN32_FIND_DATAW& found) {
    const auto convert = [](const wchar_t* name, bool& lossy) {
        const int size = static_cast<int>(std::wcslen(name));
        if (size == 0)
            return std::string();
        BOOL defaulted = FALSE;
        BOOL* ask = ::GetACP() == CP_UTF8 ? nullptr : &defaulted;
        const int n = ::WideCharToMultiByte(CP_ACP, 0, name, size, nullptr, 0, nullptr, ask);
        std::string out(static_cast<std::size_t>(n), '\0');
        ::WideCharToMultiByte(CP_ACP, 0, name, size, out.data(), n, nullptr, nullptr);
        lossy = defaulted != FALSE;
        return out;
    };
    bool lossy = false;
    std::string name = convert(found.cFileName, lossy);
    if (lossy && found.cAlternateFileName[0] != L'\0') {
        bool shortLossy = false;
        std::string shortName = convert(found.cAlternateFileName, shortLossy);
        if (!shortLossy)
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
    std::wstring pattern = WidePath(directory);
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
