// Text at the edge of the Windows calls: the suite's strings are bytes in the ANSI code page
// (UTF-8 where a header says so), the wide-character calls want UTF-16. Shared by the win32
// adapters; nothing above platform/ includes it.
#pragma once

#include <string>
#include <string_view>

namespace platform::win32 {

// The bytes in the ANSI code page as UTF-16; a byte the code page leaves undefined becomes the
// system's stand-in character, as the ANSI calls would take it.
std::wstring WideFromAnsi(std::string_view text);

// The same, strictly: false (and nothing in wide) for a byte sequence the code page does not
// define or for an embedded NUL, which no wide-character call could carry.
bool AnsiToWide(std::string_view text, std::wstring& wide);

// UTF-16 in the ANSI code page; a character the code page lacks becomes its default character,
// and *exact (when given) tells whether that never happened.
std::string AnsiFromWide(std::wstring_view wide, bool* exact = nullptr);

// UTF-16 as UTF-8.
std::string Utf8FromWide(std::wstring_view wide);

} // namespace platform::win32
