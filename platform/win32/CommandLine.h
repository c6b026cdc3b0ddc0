// Text at the edge of the Windows calls: the suite's strings are bytes in the ANSI code page,
// the wide-character calls want UTF-16, and a program receives its arguments as one command
// line that its C runtime splits again. Shared by the win32 adapters; nothing above platform/
// includes it.
#pragma once

#include <string>
#include <vector>

namespace platform::win32 {

// The bytes in the ANSI code page as UTF-16; false (and nothing in wide) for a byte sequence the
// code page does not define or for an embedded NUL, which no wide-character call could carry.
bool AnsiToWide(const std::string& text, std::wstring& wide);

// UTF-16 in the ANSI code page; a character the code page lacks becomes its default character,
// and *exact (when given) tells whether that never happened.
std::string WideToAnsi(const std::wstring& wide, bool* exact = nullptr);

// One argument as the C runtime's command-line parser gives it back: unchanged when it has no
// blank, tab, line feed, vertical tab or quote and is not empty; otherwise in quotes, each quote
// escaped with a backslash and each run of backslashes doubled where it precedes a quote or the
// closing quote (elsewhere backslashes are literal).
std::wstring QuoteArgument(const std::wstring& argument);

// The command line for program and its arguments. The program name is parsed by other rules
// (no escapes at all), so it is always quoted and may contain no quote: an empty result then.
std::wstring BuildCommandLine(const std::wstring& program,
                              const std::vector<std::wstring>& arguments);

} // namespace platform::win32
