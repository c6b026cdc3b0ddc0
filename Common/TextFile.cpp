#include "Common/TextFile.h"

#include "Common/BackupFolder.h"

#include "platform/FileSystem.h"

#include <algorithm>
#include <cstring>

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
    // In runs of at most 255 bytes a byte-wide count cannot overflow, and the compiler keeps
    // 16 or 32 of them side by side; a count into a full-width integer is several times slower.
    std::size_t breaks = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(buffer.data());
    for (std::size_t left = buffer.size(); left > 0;) {
        const std::size_t run = std::min<std::size_t>(left, 255);
        unsigned char count = 0;
        for (std::size_t i = 0; i < run; ++i)
            count += p[i] == '\n' ? 1 : 0;
        breaks += count;
        p += run;
        left -= run;
    }
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

namespace {

// A new backup copy is for the administrator's eyes only: it may hold passwords.
constexpr unsigned kBackupFileMode = 0600;
// A new file bound to a map or list: the services, running under their own accounts, read it.
constexpr unsigned kNewFileMode = 0644;

std::string DirectoryOf(const std::string& path) {
    auto slash = path.find_last_of(platform::kPathSeparators);
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string(1, platform::kPathSeparator) : path.substr(0, slash);
}

} // namespace

CReadAhead ReadAhead(const std::string& path) {
    CReadAhead ahead;
    CBoundFile file;
    file.Bind(path);
    ahead.exists = file.TakeStamp();
    if (!ahead.exists)
        return ahead;
    ahead.time = file.time;
    ahead.size = file.size;
    ahead.read = FalseOnMemoryError([&] { return file.ReadAll(ahead.text); });
    if (ahead.read)
        ahead.hash = ContentHash(ahead.text);
    return ahead;
}

bool CBoundFile::TakeStamp() {
    if (ahead) {
        if (!ahead->exists) {
            ahead.reset();
            seen = Seen::Missing; // a file made meanwhile is someone else's, as below
            return false;
        }
        time = ahead->time;
        size = ahead->size;
        return true;
    }
    if (!root.empty() && !platform::StaysWithin(path, root, platform::Access::Read))
        return false;
    auto status = platform::StatPath(path);
    if (!status) {
        seen = Seen::Missing;
        return false;
    }
    time = status->modified;
    size = status->size;
    return true;
}

bool CBoundFile::ReadForLoad(platform::LargeString& text) {
    const std::optional<std::uint64_t> hashed =
        ahead && ahead->read ? std::optional<std::uint64_t>(ahead->hash) : std::nullopt;
    if (!ReadAll(text))
        return false;
    seen = Seen::Bytes;
    seenHash = hashed ? *hashed : ContentHash(text);
    return true;
}

bool CBoundFile::ChangedOnDisk() const {
    if (seen == Seen::Nothing || path.empty())
        return false;
    if (seen == Seen::Missing)
        return (root.empty() || platform::StaysWithin(path, root, platform::Access::Read)) &&
               platform::StatPath(path).has_value();
    platform::LargeString text;
    // A file that is gone, or cannot be read now, is not overwritten unasked either.
    return !ReadAll(text) || ContentHash(text) != seenHash;
}

std::uint64_t ContentHash(std::string_view text) {
    // Eight bytes at a time, each word mixed in with a multiply and a shift, in four lanes that
    // do not wait for each other: every file a load reads is hashed, and a single chain of
    // multiplies would take longer than reading the bytes did. The length goes in as well.
    constexpr std::uint64_t kMix = 0xBF58476D1CE4E5B9ull;
    std::uint64_t lane[4] = {0x9E3779B97F4A7C15ull ^ text.size(), 0x2545F4914F6CDD1Dull,
                             0x94D049BB133111EBull, 0xD6E8FEB86659FD93ull};
    const auto mix = [](std::uint64_t hash, std::uint64_t word) {
        hash = (hash ^ word) * kMix;
        return hash ^ (hash >> 31);
    };
    std::size_t at = 0;
    for (; at + 32 <= text.size(); at += 32) {
        std::uint64_t words[4];
        std::memcpy(words, text.data() + at, 32);
        for (int i = 0; i < 4; ++i)
            lane[i] = mix(lane[i], words[i]);
    }
    std::uint64_t hash = lane[0];
    for (int i = 1; i < 4; ++i)
        hash = mix(hash, lane[i]);
    for (; at + 8 <= text.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + at, 8);
        hash = mix(hash, word);
    }
    std::uint64_t tail = 0;
    if (at < text.size())
        std::memcpy(&tail, text.data() + at, text.size() - at);
    hash = (hash ^ tail) * 0x94D049BB133111EBull;
    return hash ^ (hash >> 29);
}

bool CBoundFile::ReadAll(platform::LargeString& text) const {
    if (ahead) {
        const bool read = ahead->read;
        text = std::move(ahead->text);
        ahead.reset();
        return read;
    }
    return root.empty() ? platform::ReadWholeFile(path, text)
                        : platform::ReadWholeFileWithin(path, root, text);
}

bool CBoundFile::MakeBackup(std::string_view backupBase, std::string_view moment) const {
    const std::string base = backupBase.empty() ? path : std::string(backupBase);
    const std::string folder = DirectoryOf(base);
    const std::string file = platform::BaseName(base);
    // A copy has a new name every second, so the cleaning each save does for its own name
    // would never meet the temporary file of a copy killed in an earlier second: clean for
    // every copy of this base (a save that chose a moment had them cleaned with it).
    if (moment.empty())
        platform::RemoveStaleTemporaries(folder, [&file](std::string_view target) {
            return target.starts_with(file) &&
                   backupfolder::IsMomentSuffix(target.substr(file.size()));
        });
    platform::LargeString content;
    if (!ReadAll(content))
        return false;
    // The copies of one save share the moment the save chose; without one, the first copy of a
    // second keeps the plain name and a later save in the same second must not replace it (the
    // state before the first of two quick saves would be gone), so its copy gets "-2", "-3".
    std::string name = base + "-" + std::string(moment);
    if (moment.empty() || platform::QueryPathKind(name) != platform::PathKind::Missing) {
        const std::string stamped =
            base + "-" +
            (moment.empty() ? platform::FormatLocalTimeNow("%y%m%d-%H%M%S") : std::string(moment));
        name = stamped;
        for (int number = 2;
             number < 100000 && platform::QueryPathKind(name) != platform::PathKind::Missing;
             ++number)
            name = stamped + "-" + std::to_string(number);
    }
    // Most saves change one file of the set: the copies of the others are the same bytes as
    // their copies of the save before, and share that copy's storage instead of filling the
    // disk with a full set per save. A copy is never written in place afterwards (neither by
    // a save nor by a restore), so the shared bytes cannot change under the other name.
    if (root.empty()) {
        if (const auto previous = backupfolder::NewestCopy(folder, file, moment)) {
            platform::LargeString earlier;
            // Only a plain file: a second name for a link would be a link, whose bytes are
            // wherever it points.
            const auto status = platform::StatPath(*previous);
            if (platform::QueryPathKind(*previous) == platform::PathKind::File && status &&
                status->size == content.size() && platform::ReadWholeFile(*previous, earlier) &&
                std::string_view(earlier) == std::string_view(content) &&
                platform::MakeHardLink(*previous, name))
                return true;
        }
        return platform::ReplaceFileAtomic(name, content, kBackupFileMode);
    }
    return platform::ReplaceFileAtomicWithin(name, root, content, kBackupFileMode);
}

bool CBoundFile::Replace(std::string_view text) {
    const bool written = root.empty()
                             ? platform::WriteFileAtomic(path, text, kNewFileMode)
                             : platform::ReplaceFileAtomicWithin(path, root, text, kNewFileMode);
    if (!written)
        return false;
    (void)TakeStamp();
    seen = Seen::Bytes;
    seenHash = ContentHash(text);
    return true;
}

} // namespace textfile
