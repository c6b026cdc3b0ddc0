// The string table: every numbered German text of the program. The numbers are the ones the
// texts have always had; tests and the help refer to them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace strings {

// The text of number id in the program's 8-bit code page (Windows-1252): as message boxes show
// it and as files the program writes contain it. Empty for a number the table does not hold.
const std::string& Text(unsigned id);

// A text of the program written in UTF-8 in the source, in the 8-bit code page message boxes
// take, with its one "%s" (if any) replaced by argument, which is already in that code page.
std::string Literal(std::string_view utf8, std::string_view argument = {});

// Every number in the table, ascending.
std::vector<unsigned> AllIds();

// The table as written in the source, UTF-8, for the code that converts it.
struct Entry {
    unsigned id;
    const char* utf8;
};
const Entry* TableBegin();
const Entry* TableEnd();

} // namespace strings
