#include "gui/TextCodec.h"

#include "Common/Ansi.h"

QString FromAnsi(std::string_view text) {
    return QString::fromStdString(ansi::ToUtf8(text));
}

std::string ToAnsi(const QString& text) {
    return ansi::FromUtf8(text.toStdString());
}
