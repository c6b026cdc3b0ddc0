// What the key-value files and the list files share: 8-bit lines read with CR LF or LF,
// trimming, the comment rule with its pending block, CR LF output and the time-stamped backup.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace textfile {

// Space, tab, CR, LF, vertical tab and form feed.
constexpr bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
std::string_view TrimLeft(std::string_view s);
std::string_view TrimRight(std::string_view s);
inline std::string_view Trim(std::string_view s) {
    return TrimLeft(TrimRight(s));
}

// Calls f(line) for every line of a buffer; a final line end does not start another line.
template <class F> void ForEachLine(std::string_view buffer, F&& f) {
    std::size_t start = 0;
    while (start < buffer.size()) {
        std::size_t end = buffer.find('\n', start);
        if (end == std::string_view::npos)
            end = buffer.size();
        f(buffer.substr(start, end - start));
        start = end + 1;
    }
}

// Counts the lines ForEachLine would visit, to size containers before a load.
std::size_t CountLines(std::string_view buffer);

// The first "#" of a trimmed line. When it is escaped (a backslash right before it) the whole
// line is data and escapedAt is the position of that backslash. Otherwise the comment text goes
// to the pending block, followed by a line break when the "#" stood behind data, and data is
// what came before the "#". Without any "#" the line is all data.
struct CommentSplit {
    std::string_view data;
    std::size_t escapedAt = std::string_view::npos;
};
CommentSplit SplitComment(std::string_view trimmedLine, std::string& pendingBlock);

// Collects output text, writing every "\n" as CR LF whatever the platform.
class CrlfText {
public:
    void Reserve(std::size_t bytes) { m_text.reserve(bytes); }
    CrlfText& operator<<(std::string_view s);
    CrlfText& operator<<(char c);
    const std::string& str() const { return m_text; }
    std::string Take() { return std::move(m_text); }

private:
    std::string m_text;
};

// Before a file is overwritten: copy it to backupBase (or to the file's own path when the base
// is empty) followed by the local time as "-%y%m%d-%H%M%S". A copy that fails, for example
// because the file does not exist yet, is not an error.
void MakeBackupCopy(const std::string& filePath, std::string_view backupBase);

// Takes the modification time and size of a file about to be loaded; false when it does not
// exist, in which case both stay as they were.
bool TakeFileStamp(const std::string& path, std::int64_t& time, std::uint64_t& size);

// Replaces the file by text atomically (the old file stays whole on failure) and takes the new
// file's time and size.
bool ReplaceFile(const std::string& path, std::string_view text, std::int64_t& time,
                 std::uint64_t& size);

} // namespace textfile
