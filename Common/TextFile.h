// What the key-value files and the list files share: 8-bit lines read with CR LF or LF,
// trimming, the comment rule with its pending block, CR LF output and the time-stamped backup.
#pragma once

#include "platform/Memory.h"

#include <cstdint>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

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
    const platform::LargeString& str() const { return m_text; }
    // The text itself, for a writer that appends lines it knows to hold no line break and
    // ends them with CR LF on its own.
    platform::LargeString& Raw() { return m_text; }
    platform::LargeString Take() { return std::move(m_text); }

private:
    // A file of 200,000 lines is megabytes of text: in memory for huge pages, it costs a few
    // page faults instead of thousands.
    platform::LargeString m_text;
};

// A file's time, size and bytes, read ahead of its load (on another thread while the program
// does other work), as the load itself would have taken them. The start reads the files loaded
// after the account list ("aliases" above all) this way while the spool is listed; the loads
// still take their bytes in the usual order, and a file that could not be read here fails its
// own load, in its place.
struct CReadAhead {
    bool exists = false; // the time and size could be taken
    bool read = false;   // and the bytes read
    std::int64_t time = 0;
    std::uint64_t size = 0;
    platform::LargeString text;
    std::uint64_t hash = 0; // ContentHash(text), taken on the reading thread too
};
// Reads path for a file of the configuration directory (links followed).
CReadAhead ReadAhead(const std::string& path);

// The file a map or list is bound to, with the time and size the last load or save saw.
struct CBoundFile {
    std::string path;
    // Empty for the files of the configuration directory: their links are followed, for reading
    // and writing. A folder (the spool, for the files of an account folder) confines the file
    // to it: a read whose path leads out of that folder through a link fails like an unreadable
    // file, and a write replaces a link at path instead of writing through it and never creates
    // or changes anything outside the folder.
    std::string root;
    std::int64_t time = 0; // seconds since 1970
    std::uint64_t size = 0;
    // What the next load takes instead of asking the disk; a load uses it once and drops it.
    mutable std::optional<CReadAhead> ahead;
    // What the last load or save left on disk, so that a save can tell whether another program
    // has written the file since: nothing known yet, no file, or bytes of this hash.
    enum class Seen { Nothing, Missing, Bytes } seen = Seen::Nothing;
    std::uint64_t seenHash = 0;

    void Bind(const std::string& newPath, const std::string& newRoot = {}) {
        path = newPath;
        root = newRoot;
        time = 0;
        size = 0;
        ahead.reset();
        seen = Seen::Nothing;
    }
    // Takes the file's time and size before a load; false when it does not exist (or lies
    // outside root), in which case both stay as they were and the file counts as missing.
    bool TakeStamp();
    // ReadAll for a load: the bytes are remembered (as their hash) for ChangedOnDisk.
    bool ReadForLoad(platform::LargeString& text);
    // Whether the file on disk is no longer what the last load read or the last save wrote:
    // other bytes, gone, or there while it was missing. Rewriting the same bytes is no change.
    // False while nothing is known (never loaded nor saved).
    bool ChangedOnDisk() const;
    // The file's bytes; false when it cannot be read (a directory, a FIFO, no permission, a
    // link out of root). A FIFO or device is never waited on: the load fails instead of hanging
    // until some writer comes.
    bool ReadAll(platform::LargeString& text) const;
    // Before the file is overwritten: copies it to backupBase (or to its own path when the base
    // is empty) followed by "-" and moment, the stamp a save shares among all its copies (see
    // Common/BackupFolder.h). Without a moment, or when that name is taken, the local time
    // "%y%m%d-%H%M%S" stands there, with "-2", "-3" and so on behind it for a later copy of the
    // same second, so no save's copy replaces another's. A copy with the same bytes as the
    // newest earlier copy of the file is a second name (a hard link) of that copy (a file
    // system without links gets a full copy). That is safe because a copy is never written in
    // place, neither by a save nor by a restore, so bytes two names share cannot change. Any
    // other copy is written like the file itself, through the same atomic writer: one that
    // fails or is killed on the way leaves nothing. False when no copy was made, for example
    // because the file does not exist yet (which is no error for a save).
    bool MakeBackup(std::string_view backupBase, std::string_view moment = {}) const;
    // Replaces the file by text atomically (the old file stays whole on failure) and takes the
    // new time and size.
    bool Replace(std::string_view text);
};

// A hash of text for telling a file's versions apart (not for security).
std::uint64_t ContentHash(std::string_view text);

// Binds path to file and runs load with ahead as the file's time, size and bytes. The read-ahead
// goes with the load: one that stopped before reading must not leave it for a later stamp.
template <class F>
bool LoadReadAhead(CBoundFile& file, const std::string& path, CReadAhead&& ahead, F&& load) {
    file.Bind(path);
    file.ahead = std::move(ahead);
    const bool loaded = load();
    file.ahead.reset();
    return loaded;
}

// Runs f; running out of memory on the way counts as failure, as a load or save reports it.
template <class F> bool FalseOnMemoryError(F&& f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

} // namespace textfile
