#include "ctl/Csv.h"

#include "Common/Ansi.h"

#include <cstdint>
#include <set>

namespace ctl::csv {
namespace {

Error MakeError(std::size_t line, const std::string& text) {
    return {line, "Zeile " + std::to_string(line) + ": " + text};
}

bool IsLineEnd(char c) {
    return c == '\r' || c == '\n';
}

// Whether text[i] ends a physical line: an LF, or a CR without an LF after it.
bool EndsLine(std::string_view text, std::size_t i) {
    return text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'));
}

// ',' unless the header line has ';' and no ',' outside quotes (German spreadsheets).
char DetectSeparator(std::string_view text) {
    bool quoted = false;
    bool semicolon = false;
    bool comma = false;
    std::size_t i = 0;
    while (i < text.size() && IsLineEnd(text[i]))
        ++i;
    for (; i < text.size() && (quoted || !IsLineEnd(text[i])); ++i) {
        if (text[i] == '"')
            quoted = !quoted; // "" inside quotes toggles twice
        else if (!quoted && text[i] == ';')
            semicolon = true;
        else if (!quoted && text[i] == ',')
            comma = true;
    }
    return semicolon && !comma ? ';' : ',';
}

std::string CodePointName(std::uint32_t code) {
    const char* const digits = "0123456789ABCDEF";
    std::string hex;
    for (; code != 0 || hex.size() < 4; code >>= 4)
        hex.insert(hex.begin(), digits[code & 0xF]);
    return "U+" + hex;
}

// Why a UTF-8 cell has no Windows-1252 form, on the line of the offending character; firstLine
// is the line the cell begins on (a quoted cell may span lines).
Error ConversionError(std::string_view cell, std::size_t firstLine) {
    std::size_t line = firstLine;
    for (std::size_t i = 0; i < cell.size();) {
        if (static_cast<unsigned char>(cell[i]) < 0x80) {
            line += EndsLine(cell, i) ? 1 : 0;
            ++i;
            continue;
        }
        const std::size_t start = i;
        const long code = ansi::NextCodePoint(cell, i);
        if (code < 0)
            return MakeError(line, "Ungültiges UTF-8 in einer als UTF-8 gekennzeichneten Datei.");
        const std::string_view character = cell.substr(start, i - start);
        bool representable = false;
        ansi::FromUtf8(character, &representable);
        if (!representable)
            return MakeError(line, "Das Zeichen „" + std::string(character) + "“ (" +
                                       CodePointName(static_cast<std::uint32_t>(code)) +
                                       ") gibt es in Windows-1252 nicht.");
    }
    return MakeError(line, "Ungültiges UTF-8.");
}

class CReader {
public:
    CReader(std::string_view text, ParseResult& result)
        : m_text(text), m_separator(result.separator), m_utf8(result.utf8), m_result(result) {}

    void Run() {
        if (!Next(m_result.header))
            return;
        const std::size_t width = m_result.header.cells.size();
        Record record;
        for (;;) {
            record.cells.reserve(width);
            if (!Next(record))
                return;
            if (record.cells.size() == width) {
                m_result.rows.push_back(std::move(record));
            } else {
                const std::size_t count = record.cells.size();
                m_result.errors.push_back(MakeError(
                    record.line, std::to_string(count) + (count == 1 ? " Feld" : " Felder") +
                                     " statt " + std::to_string(width) + " wie in der Kopfzeile."));
            }
        }
    }

private:
    // Reads the next record after any blank lines; false at the end of the text or on a fault.
    bool Next(Record& record) {
        while (m_pos < m_text.size() && IsLineEnd(m_text[m_pos]))
            SkipLineEnd();
        if (m_pos == m_text.size())
            return false;
        record.line = m_line;
        record.cells.clear();
        for (;;) {
            const std::size_t cellLine = m_line;
            if (m_pos < m_text.size() && m_text[m_pos] == '"') {
                if (!ReadQuoted())
                    return false;
            } else {
                std::size_t end = m_pos;
                while (end < m_text.size() && m_text[end] != m_separator &&
                       !IsLineEnd(m_text[end]) && m_text[end] != '"')
                    ++end;
                if (end < m_text.size() && m_text[end] == '"')
                    return Fail(m_line,
                                "Anführungszeichen mitten in einem Feld ohne Anführungszeichen.");
                m_field.assign(m_text.substr(m_pos, end - m_pos));
                m_pos = end;
            }
            if (!AddCell(record, cellLine))
                return false;
            if (m_pos == m_text.size())
                return true;
            if (m_text[m_pos] != m_separator) {
                SkipLineEnd();
                return true;
            }
            ++m_pos;
        }
    }

    // Reads the quoted field at m_pos into m_field, up to the separator or line end after it.
    bool ReadQuoted() {
        const std::size_t openLine = m_line;
        m_field.clear();
        ++m_pos;
        for (;;) {
            const std::size_t quote = m_text.find('"', m_pos);
            if (quote == std::string_view::npos)
                return Fail(openLine, "Anführungszeichen nicht geschlossen.");
            for (std::size_t i = m_pos; i < quote; ++i)
                m_line += EndsLine(m_text, i) ? 1 : 0;
            m_field.append(m_text.substr(m_pos, quote - m_pos));
            m_pos = quote + 1;
            if (m_pos == m_text.size() || m_text[m_pos] != '"')
                break;
            m_field.push_back('"');
            ++m_pos;
        }
        if (m_pos < m_text.size() && m_text[m_pos] != m_separator && !IsLineEnd(m_text[m_pos]))
            return Fail(m_line, "Text nach dem schließenden Anführungszeichen.");
        return true;
    }

    bool AddCell(Record& record, std::size_t cellLine) {
        bool ascii = true;
        for (char c : m_field)
            ascii &= static_cast<unsigned char>(c) < 0x80;
        if (!m_utf8 || ascii) {
            record.cells.push_back(m_field);
            return true;
        }
        bool representable = false;
        record.cells.push_back(ansi::FromUtf8(m_field, &representable));
        if (representable)
            return true;
        m_result.errors.push_back(ConversionError(m_field, cellLine));
        m_result.fatal = true;
        return false;
    }

    void SkipLineEnd() {
        m_pos +=
            m_text[m_pos] == '\r' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '\n' ? 2 : 1;
        ++m_line;
    }

    bool Fail(std::size_t line, const std::string& text) {
        m_result.errors.push_back(MakeError(line, text));
        m_result.fatal = true;
        return false;
    }

    std::string_view m_text;
    char m_separator;
    bool m_utf8;
    ParseResult& m_result;
    std::size_t m_pos = 0;
    std::size_t m_line = 1;
    std::string m_field; // the cell being read, before its conversion; reused for every cell
};

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

ParseResult Parse(std::string_view bytes, char separator) {
    ParseResult result;
    // "Unicode text" of a spreadsheet would otherwise read as Windows-1252 full of NUL bytes.
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
        result.errors.push_back(MakeError(1, "Die Datei ist in UTF-16 gespeichert; bitte als "
                                             "CSV in UTF-8 oder Windows-1252 speichern."));
        result.fatal = true;
        return result;
    }
    const bool bom = bytes.starts_with(kUtf8Bom);
    if (bom)
        bytes.remove_prefix(kUtf8Bom.size());
    result.utf8 = bom || ansi::IsValidUtf8(bytes);
    result.separator = separator != 0 ? separator : DetectSeparator(bytes);
    CReader(bytes, result).Run();
    return result;
}

HeaderMap MapHeader(const Record& header, const std::vector<Column>& columns) {
    HeaderMap map;
    map.index.assign(columns.size(), kAbsent);
    const std::size_t line = header.line != 0 ? header.line : 1;
    if (header.cells.empty()) {
        map.errors.push_back(MakeError(line, "Die Datei ist leer; die Kopfzeile fehlt."));
        return map;
    }
    std::vector<bool> duplicated(columns.size(), false);
    std::set<std::string> unknown; // in small letters, so each is named once
    for (std::size_t cell = 0; cell < header.cells.size(); ++cell) {
        const std::string_view name = Trim(header.cells[cell]);
        if (name.empty()) {
            map.errors.push_back(MakeError(line, "Spalte " + std::to_string(cell + 1) +
                                                     " der Kopfzeile hat keinen Namen."));
            continue;
        }
        std::size_t column = 0;
        while (column < columns.size() && !ansi::EqualNoCase(columns[column].name, name))
            ++column;
        if (column == columns.size()) {
            if (unknown.insert(ansi::ToLower(name)).second)
                map.errors.push_back(
                    MakeError(line, "Unbekannte Spalte „" + ansi::ToUtf8(name) + "“."));
        } else if (map.index[column] == kAbsent) {
            map.index[column] = cell;
        } else if (!duplicated[column]) {
            duplicated[column] = true;
            map.errors.push_back(MakeError(line, "Die Spalte „" + ansi::ToUtf8(name) +
                                                     "“ steht mehrfach in der Kopfzeile."));
        }
    }
    for (std::size_t column = 0; column < columns.size(); ++column)
        if (columns[column].required && map.index[column] == kAbsent)
            map.errors.push_back(
                MakeError(line, "Die Spalte „" + ansi::ToUtf8(columns[column].name) + "“ fehlt."));
    return map;
}

std::string WriteRecord(const std::vector<std::string>& cellsAnsi, char separator) {
    std::string line;
    for (std::size_t i = 0; i < cellsAnsi.size(); ++i) {
        if (i != 0)
            line.push_back(separator);
        const std::string& cell = cellsAnsi[i];
        // ',' and ';' are quoted whatever the separator, so the reader's look at the header
        // line finds the separator that was used. A lone empty cell would read as a blank line.
        const char quoteIf[] = {separator, '"', '\r', '\n', ',', ';'};
        const bool quoted = cell.find_first_of(quoteIf, 0, sizeof quoteIf) != std::string::npos ||
                            (!cell.empty() && (cell.front() == ' ' || cell.front() == '\t' ||
                                               cell.back() == ' ' || cell.back() == '\t')) ||
                            (cell.empty() && cellsAnsi.size() == 1);
        const std::string utf8 = ansi::ToUtf8(cell);
        if (!quoted) {
            line += utf8;
            continue;
        }
        line.push_back('"');
        for (char c : utf8) {
            if (c == '"')
                line.push_back('"');
            line.push_back(c);
        }
        line.push_back('"');
    }
    line += "\r\n";
    return line;
}

} // namespace ctl::csv
