// CSV files as administrators make them with a spreadsheet or a script, for importing accounts
// and aliases, and the lines of an export. The reader takes the whole file's bytes and hands
// back cells in the code page of the suite's files (Windows-1252); it returns its errors with
// the line they concern instead of throwing, so an import can name every refused row at once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ctl::csv {

// Starts a UTF-8 file; spreadsheets take a file for Windows-1252 without it.
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

struct Error {
    std::size_t line;    // 1-based physical line of the file
    std::string message; // German, UTF-8, "Zeile 12: …"
};

struct Record {
    std::size_t line = 0;           // physical line the record begins on
    std::vector<std::string> cells; // Windows-1252, as written (not trimmed)
};

struct ParseResult {
    Record header;             // the first record; no cells when the file holds none
    std::vector<Record> rows;  // the records after it, each with as many cells as the header
    std::vector<Error> errors; // in the order of the lines
    // A fault in the quoting or the encoding stopped the reading at the last error: the rows
    // before it are kept, but the file as a whole should be refused. A row whose number of
    // cells differs from the header's only has its error here and is left out of rows.
    bool fatal = false;
    char separator = ',';
    bool utf8 = false; // the text was read as UTF-8 (else as Windows-1252)
};

// Reads a whole file. With a UTF-8 byte-order mark, or when the bytes are valid UTF-8, the text
// is UTF-8; otherwise Windows-1252 (a UTF-16 file is refused). A separator of 0 means ',', or
// ';' when the header line has ';' and no ',' outside quotes; any other separator (not '"', CR
// or LF) is taken as given.
ParseResult Parse(std::string_view bytes, char separator = 0);

// A column an import knows; its name compares to the header's trimmed cells regardless of case.
struct Column {
    std::string_view name; // Windows-1252
    bool required;
};

inline constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);

struct HeaderMap {
    std::vector<std::size_t> index; // per column asked for: its cell in a row, or kAbsent
    std::vector<Error> errors;      // unknown, missing, duplicated or unnamed columns
};

// Finds the columns in the header. Every cell of the header must name one of columns, at most
// once, and every required column must be there; the import should stop on any error.
HeaderMap MapHeader(const Record& header, const std::vector<Column>& columns);

// One line of an export: the cells (Windows-1252) in UTF-8, quoted where a reader would
// otherwise split or trim them, ending in CR LF.
std::string WriteRecord(const std::vector<std::string>& cellsAnsi, char separator = ',');

} // namespace ctl::csv
