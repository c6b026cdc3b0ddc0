// Command lines: a program receives its arguments as one line that its C runtime splits again.
// Shared by the win32 adapters; nothing above platform/ includes it.
#pragma once

#include <string>
#include <vector>

namespace platform::win32 {

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
