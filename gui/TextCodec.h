// The one place where text crosses between the program's 8-bit code page (Windows-1252, what
// the files and the logic hold) and Qt's Unicode.
#pragma once

#include <QString>

#include <optional>
#include <string>
#include <string_view>

QString FromAnsi(std::string_view text);
std::string ToAnsi(const QString& text);
// The text in the code page, or nothing when the code page cannot hold all of it (ToAnsi puts
// "?" in place of such characters).
std::optional<std::string> ToAnsiExact(const QString& text);
// Multi-line texts: the model holds CR LF line breaks, Qt's text edits hold LF.
QString FromAnsiLines(std::string_view text);
std::string ToAnsiLines(const QString& text);
// The program's own UTF-8 texts of the field tables and captions.
inline QString FromUtf8(const char* text) {
    return QString::fromUtf8(text);
}
