#include "gui/TextCodec.h"

#include "Common/Ansi.h"

QString FromAnsi(std::string_view text) {
    return QString::fromStdString(ansi::ToUtf8(text));
}

std::string ToAnsi(const QString& text) {
    return ansi::FromUtf8(text.toStdString());
}

std::optional<std::string> ToAnsiExact(const QString& text) {
    bool representable = true;
    std::string result = ansi::FromUtf8(text.toStdString(), &representable);
    if (!representable)
        return std::nullopt;
    return result;
}

QString FromAnsiLines(std::string_view text) {
    QString result = FromAnsi(text);
    result.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return result;
}

std::string ToAnsiLines(const QString& text) {
    QString crlf = text;
    crlf.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    crlf.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return ToAnsi(crlf);
}
