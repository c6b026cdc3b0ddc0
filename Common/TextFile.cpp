#include "Common/TextFile.h"

#include "platform/FileSystem.h"

#include <algorithm>

namespace textfile {

std::string_view TrimLeft(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    return s.substr(i);
}

std::string_view TrimRight(std::string_view s) {
    std::size_t n = s.size();
    while (n > 0 && IsBlank(s[n - 1]))
        --n;
    return s.substr(0, n);
}

std::size_t CountLines(std::string_view buffer) {
    if (buffer.empty())
        return 0;
    std::size_t breaks = static_cast<std::size_t>(std::count(buffer.begin(), buffer.end(), '\n'));
    return buffer.back() == '\n' ? breaks : breaks + 1;
}

CommentSplit SplitComment(std::string_view line, std::string& pendingBlock) {
    CommentSplit result;
    std::size_t hash = line.find('#');
    if (hash == std::string_view::npos) {
        result.data = line;
    } else if (hash > 0 && line[hash - 1] == '\\') {
        result.data = line;
        result.escapedAt = hash - 1;
    } else {
        pendingBlock.append(line.substr(hash));
        if (hash != 0)
            pendingBlock.push_back('\n');
        result.data = line.substr(0, hash);
    }
    return result;
}

CrlfText& CrlfText::operator<<(std::string_view s) {
    std::size_t start = 0;
    for (;;) {
        std::size_t lf = s.find('\n', start);
        if (lf == std::string_view::npos) {
            m_text.append(s.substr(start));
            return *this;
        }
        m_text.append(s.substr(start, lf - start));
        m_text.append("\r\n");
        start = lf + 1;
    }
}

CrlfText& CrlfText::operator<<(char c) {
    if (c == '\n')
        m_text.push_back('\r');
    m_text.push_back(c);
    return *this;
}

bool CBoundFile::TakeStamp() {
    auto status = platform::StatPath(path);
    if (!status)
        return false;
    time = status->modified;
    size = status->size;
    return true;
}

bool CBoundFile::ReadAll(std::string& text) const {
    return platform::ReadWholeFile(path, text);
}

void CBoundFile::MakeBackup(std::string_view backupBase) const {
    std::string name = backupBase.empty() ? path : std::string(backupBase);
    name += platform::FormatLocalTimeNow("-%y%m%d-%H%M%S");
    (void)platform::CopyFileReplacing(path, name);
}

bool CBoundFile::Replace(std::string_view text) {
    if (!platform::WriteFileAtomic(path, text))
        return false;
    (void)TakeStamp();
    return true;
}

} // namespace textfile
