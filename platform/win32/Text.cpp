#include "platform/win32/Text.h"

#include <windows.h>

namespace platform::win32 {

std::wstring WideFromAnsi(std::string_view text) {
    if (text.empty() || text.size() > 0x7FFFFFFF)
        return {};
    const int size = static_cast<int>(text.size());
    const int needed = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(needed > 0 ? needed : 0), L'\0');
    if (needed > 0)
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), needed);
    return wide;
}

bool AnsiToWide(std::string_view text, std::wstring& wide) {
    wide.clear();
    if (text.empty())
        return true;
    if (text.find('\0') != std::string_view::npos || text.size() > 0x7FFFFFFF)
        return false;
    const int size = static_cast<int>(text.size());
    const int needed =
        ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (needed <= 0)
        return false;
    wide.resize(static_cast<std::size_t>(needed));
    if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(),
                              needed) != needed) {
        wide.clear();
        return false;
    }
    return true;
}

std::string AnsiFromWide(std::wstring_view wide, bool* exact) {
    if (exact != nullptr)
        *exact = true;
    if (wide.empty() || wide.size() > 0x7FFFFFFF)
        return {};
    const int size = static_cast<int>(wide.size());
    // A UTF-8 code page has every character; the call refuses to report a default there. Any
    // other takes no look-alike for a character it lacks (a full-width "／" must not become "/"
    // in a name that is then joined to a path): it is the default character, and said.
    const bool utf8 = ::GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* reportDefault = utf8 ? nullptr : &usedDefault;
    const int needed =
        ::WideCharToMultiByte(CP_ACP, flags, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        if (exact != nullptr)
            *exact = false;
        return {};
    }
    std::string text(static_cast<std::size_t>(needed), '\0');
    if (::WideCharToMultiByte(CP_ACP, flags, wide.data(), size, text.data(), needed, nullptr,
                              reportDefault) != needed) {
        if (exact != nullptr)
            *exact = false;
        return {};
    }
    if (exact != nullptr && usedDefault)
        *exact = false;
    return text;
}

std::string Utf8FromWide(std::wstring_view wide) {
    if (wide.empty() || wide.size() > 0x7FFFFFFF)
        return {};
    const int size = static_cast<int>(wide.size());
    const int needed =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(needed > 0 ? needed : 0), '\0');
    if (needed > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), needed, nullptr, nullptr);
    return utf8;
}

} // namespace platform::win32
