#include "Common/MapEx.h"

#include "Common/DiagLog.h"
#include "Common/StringList.h"
#include "Common/TextFile.h"
#include "platform/FileSystem.h"

#include <array>
#include <bit>
#include <climits>
#include <cstring>
#include <cstdint>
#include <functional>
#include <new>
#include <stdexcept>

namespace {

const char kSourceFile[] = "Common\\MapEx";

std::size_t HashOf(std::string_view key) {
    return CMapEx::KeyHash(key);
}

// Equal texts, most often the very same bytes (a dead entry has no key and equals none).
bool SameText(std::string_view a, std::string_view b) {
    return a.data() != nullptr && a.size() == b.size() && (a.data() == b.data() || a == b);
}

bool HoldsHashOrBreak(std::string_view text) {
    return std::memchr(text.data(), '#', text.size()) != nullptr ||
           std::memchr(text.data(), '\n', text.size()) != nullptr;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// CMapEx

CMapEx::CMapEx(const CMapEx& other) : m_traceLevel(other.m_traceLevel) {
    Guard g(other.m_lock);
    CopyFrom(other);
}

CMapEx& CMapEx::operator=(const CMapEx& other) {
    if (this != &other) {
        CMapEx copy(other);
        Guard g(m_lock);
        FreeOwned(m_entries);
        m_entries = std::move(copy.m_entries);
        copy.m_entries.clear(); // their strings are ours now
        m_index = std::move(copy.m_index);
        m_live = copy.m_live;
        m_used = copy.m_used;
        m_arena = std::move(copy.m_arena);
        m_texts = std::move(copy.m_texts);
        m_heldBytes = copy.m_heldBytes;
        m_wasteBytes = 0;
        ++m_version;
        ++m_numbering;
    }
    return *this;
}

void CMapEx::CopyFrom(const CMapEx& other) {
    // Holes are left out, so the copy's numbers are its own; its bytes live in its own arena.
    m_entries.reserve(other.m_live);
    for (const Entry& entry : other.m_entries) {
        if (!entry.live())
            continue;
        Entry copy;
        copy.SetKey(m_arena.Store(entry.key()));
        copy.SetValue(m_arena.Store(ValueOf(entry)));
        m_entries.push_back(copy);
    }
    m_live = m_entries.size();
    m_heldBytes = other.m_heldBytes;
    if (m_live != 0)
        Rehash(std::bit_ceil(std::max<std::size_t>(16, m_live * 2)));
}

CMapEx::~CMapEx() {
    FreeOwned(m_entries);
}

void CMapEx::FreeOwned(Entries& entries) {
    for (Entry& entry : entries) {
        delete entry.owned;
        entry.owned = nullptr;
    }
}

std::uint32_t CMapEx::CheckedLength(std::size_t length) {
    if (length > kLengthMask)
        throw std::length_error("map entry");
    return static_cast<std::uint32_t>(length);
}

std::size_t CMapEx::GetCount() const {
    Guard g(m_lock);
    return m_live;
}

std::size_t CMapEx::Probe(std::string_view key, std::size_t hash) const {
    const std::size_t mask = m_index.size() - 1;
    const std::uint32_t tag = static_cast<std::uint32_t>(hash >> 32);
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const std::uint64_t slot = m_index[i];
        if (slot == kEmpty)
            return npos;
        if (static_cast<std::uint32_t>(slot >> 32) == tag && SlotEntry(slot) != kRemoved &&
            m_entries[SlotEntry(slot) - 1].key() == key)
            return i;
    }
}

void CMapEx::PrefetchHash(std::size_t hash) const {
    if (!m_index.empty())
        __builtin_prefetch(&m_index[hash & (m_index.size() - 1)]);
}

std::size_t CMapEx::EntryNumber(std::string_view key) const {
    if (m_live == 0)
        return npos;
    std::size_t i = Probe(key, HashOf(key));
    return i == npos ? npos : SlotEntry(m_index[i]) - 1;
}

const std::string* CMapEx::FindValue(std::string_view key) const {
    Guard g(m_lock);
    std::size_t n = EntryNumber(key);
    if (n == npos)
        return nullptr;
    const Entry& entry = m_entries[n];
    std::lock_guard<std::mutex> owned(m_ownedMutex);
    if (!entry.owned)
        const_cast<Entry&>(entry).owned = new std::string(entry.value());
    return entry.owned;
}

std::optional<std::string_view> CMapEx::FindView(std::string_view key) const {
    Guard g(m_lock);
    std::size_t n = EntryNumber(key);
    if (n == npos)
        return std::nullopt;
    return ValueOf(m_entries[n]);
}

void CMapEx::Rehash(std::size_t buckets) {
    // Close the holes left by removed entries, keeping the insertion order.
    if (m_live != m_entries.size()) {
        std::size_t out = 0;
        for (std::size_t in = 0; in < m_entries.size(); ++in) {
            if (m_entries[in].live()) {
                if (out != in)
                    m_entries[out] = std::move(m_entries[in]);
                ++out;
            }
        }
        m_entries.resize(out);
        ++m_numbering;
    }
    m_index.assign(buckets, kEmpty);
    const std::size_t mask = buckets - 1;
    for (std::size_t n = 0; n < m_entries.size(); ++n) {
        const std::size_t hash = HashOf(m_entries[n].key());
        std::size_t i = hash & mask;
        while (m_index[i] != kEmpty)
            i = (i + 1) & mask;
        m_index[i] = MakeSlot(n, hash);
    }
    m_used = m_entries.size();
}

void CMapEx::Reserve(std::size_t entries) {
    std::size_t buckets = std::bit_ceil(entries + entries / 3 + 16);
    if (buckets > m_index.size())
        Rehash(buckets);
    m_entries.reserve(entries);
}

void CMapEx::AdoptText(std::shared_ptr<const platform::LargeString> text) {
    m_texts.push_back(std::move(text));
}

std::size_t CMapEx::Insert(std::string_view key, std::size_t hash, bool keyIsHeld, bool* created) {
    ++m_version;
    if (created)
        *created = false;
    if (!m_index.empty()) {
        std::size_t i = Probe(key, hash);
        if (i != npos)
            return SlotEntry(m_index[i]) - 1;
    }
    if (created)
        *created = true;
    // Keep the index at most three quarters full, counting removed slots.
    if ((m_used + 1) * 4 > m_index.size() * 3)
        Rehash(std::bit_ceil(std::max<std::size_t>(16, (m_live + 1) * 2)));
    if (m_entries.size() >= kRemoved - 1)
        throw std::bad_alloc();
    const std::size_t mask = m_index.size() - 1;
    std::size_t i = hash & mask;
    while (m_index[i] != kEmpty && SlotEntry(m_index[i]) != kRemoved)
        i = (i + 1) & mask;
    Entry entry;
    entry.SetKey(keyIsHeld ? key : m_arena.Store(key));
    m_entries.push_back(entry);
    if (m_index[i] == kEmpty)
        ++m_used;
    m_index[i] = MakeSlot(m_entries.size() - 1, hash);
    ++m_live;
    m_heldBytes += key.size();
    return m_entries.size() - 1;
}

void CMapEx::AssignValue(Entry& entry, std::string_view value) {
    if (entry.owned) {
        // A string was handed out for this entry: it stays the one that holds the value.
        entry.owned->assign(value);
        entry.MarkOwnedIsValue();
    } else {
        const std::string_view stored = m_arena.Store(value);
        m_wasteBytes += entry.value().size();
        m_heldBytes += value.size() - entry.value().size();
        entry.SetValue(stored);
    }
}

void CMapEx::CompactIfWasteful() {
    constexpr std::size_t kTolerated = 64 * 1024;
    if (m_wasteBytes <= kTolerated || m_wasteBytes <= m_heldBytes)
        return;
    CStringArena arena;
    for (Entry& entry : m_entries) {
        if (!entry.live())
            continue;
        entry.SetKey(arena.Store(entry.key()));
        entry.SetValue(entry.ownedIsValue() ? std::string_view() : arena.Store(entry.value()));
    }
    m_arena = std::move(arena);
    m_texts.clear();
    m_wasteBytes = 0;
}

std::size_t CMapEx::Store(std::string_view key, std::string_view value, bool* created) {
    const std::size_t n = Insert(key, HashOf(key), false, created);
    AssignValue(m_entries[n], value);
    CompactIfWasteful();
    return n;
}

std::size_t CMapEx::StoreViews(std::string_view key, std::string_view value, bool* created,
                               std::optional<std::size_t> hash) {
    bool isNew = false;
    const std::size_t n = Insert(key, hash ? *hash : HashOf(key), true, &isNew);
    if (created)
        *created = isNew;
    Entry& entry = m_entries[n];
    if (entry.owned) {
        AssignValue(entry, value);
    } else {
        m_wasteBytes += entry.value().size();
        m_heldBytes += value.size() - entry.value().size();
        entry.SetValue(value);
    }
    return n;
}

std::string& CMapEx::Slot(std::string_view key, bool* created) {
    Entry& entry = m_entries[Insert(key, HashOf(key), false, created)];
    if (!entry.owned)
        entry.owned = new std::string(entry.value());
    entry.MarkOwnedIsValue();
    return *entry.owned;
}

bool CMapEx::Lookup(std::string_view key, std::string& value) const {
    const bool trace = m_traceLevel > 4;
    if (trace)
        DiagLog().LogAt(7, "CMapEx::Lookup: %s:%d", kSourceFile, 63);
    Guard g(m_lock);
    std::size_t n = EntryNumber(key);
    if (trace)
        DiagLog().LogAt(7, "CMapEx::Lookup: %s:%d", kSourceFile, 72);
    if (n == npos)
        return false;
    if (trace)
        DiagLog().LogAt(7, "CMapEx::Lookup: %s:%d", kSourceFile, 81);
    value = ValueOf(m_entries[n]);
    if (trace)
        DiagLog().LogAt(7, "CMapEx::Lookup: %s:%d", kSourceFile, 89);
    return true;
}

bool CMapEx::LookupKey(std::string_view key, std::string& storedKey) const {
    Guard g(m_lock);
    std::size_t n = EntryNumber(key);
    if (n == npos)
        return false;
    storedKey = m_entries[n].key();
    return true;
}

bool CMapEx::Contains(std::string_view key) const {
    Guard g(m_lock);
    return EntryNumber(key) != npos;
}

std::string& CMapEx::operator[](std::string_view key) {
    Guard g(m_lock);
    return Slot(key);
}

void CMapEx::SetAt(std::string_view key, std::string_view value) {
    Guard g(m_lock);
    Store(key, value);
}

bool CMapEx::RemoveKey(std::string_view key) {
    Guard g(m_lock);
    if (m_live == 0)
        return false;
    std::size_t i = Probe(key, HashOf(key));
    if (i == npos)
        return false;
    Entry& entry = m_entries[SlotEntry(m_index[i]) - 1];
    const std::size_t bytes = entry.key().size() + (entry.ownedIsValue() ? 0 : entry.value().size());
    m_heldBytes -= bytes;
    m_wasteBytes += bytes;
    delete entry.owned;
    entry = Entry(); // no key: removed
    m_index[i] = kRemoved; // not empty: probe chains through this slot stay intact
    --m_live;
    ++m_version;
    CompactIfWasteful();
    return true;
}

bool CMapEx::RenameKey(std::string_view from, std::string_view to) {
    Guard g(m_lock);
    const std::size_t n = EntryNumber(from);
    if (n == npos)
        return false;
    if (from == to)
        return true;
    if (EntryNumber(to) != npos)
        return false;
    const std::string_view key = m_arena.Store(to); // to may view the key it replaces
    ++m_version;
    m_index[Probe(from, HashOf(from))] = kRemoved;
    m_wasteBytes += m_entries[n].key().size();
    m_heldBytes += key.size() - m_entries[n].key().size();
    m_entries[n].SetKey(key);
    // The entry keeps its number; only its index slot moves (a rehash indexes it anew).
    if ((m_used + 1) * 4 > m_index.size() * 3) {
        Rehash(std::bit_ceil(std::max<std::size_t>(16, (m_live + 1) * 2)));
        return true;
    }
    const std::size_t hash = HashOf(key);
    const std::size_t mask = m_index.size() - 1;
    std::size_t i = hash & mask;
    while (m_index[i] != kEmpty && SlotEntry(m_index[i]) != kRemoved)
        i = (i + 1) & mask;
    if (m_index[i] == kEmpty)
        ++m_used;
    m_index[i] = MakeSlot(n, hash);
    return true;
}

void CMapEx::ClearStorage() {
    FreeOwned(m_entries);
    m_entries.clear();
    m_index.clear();
    m_live = 0;
    m_used = 0;
    m_arena.Clear();
    m_texts.clear();
    m_heldBytes = 0;
    m_wasteBytes = 0;
    ++m_version;
    ++m_numbering;
}

void CMapEx::RemoveAll() {
    Guard g(m_lock);
    ClearStorage();
}

CMapEx::POSITION CMapEx::GetStartPosition() const {
    Guard g(m_lock);
    for (std::size_t n = 0; n < m_entries.size(); ++n)
        if (m_entries[n].live())
            return n + 1;
    return 0;
}

void CMapEx::GetNextAssoc(POSITION& position, std::string& key, std::string& value) const {
    Guard g(m_lock);
    std::size_t n = position - 1;
    if (position == 0 || n >= m_entries.size()) {
        position = 0;
        return;
    }
    key = m_entries[n].key();
    value = ValueOf(m_entries[n]);
    position = 0;
    for (++n; n < m_entries.size(); ++n) {
        if (m_entries[n].live()) {
            position = n + 1;
            break;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// CThreadSafeMap

bool CThreadSafeMap::Lookup(std::string_view key, std::string& value) const {
    const bool trace = m_traceLevel > 4;
    if (trace)
        DiagLog().LogAt(7, "CThreadSafeMap::Lookup: %s:%d", kSourceFile, 183);
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (trace)
        DiagLog().LogAt(7, "CThreadSafeMap::Lookup: %s:%d", kSourceFile, 191);
    return CMapEx::Lookup(key, value);
}

std::string& CThreadSafeMap::operator[](std::string_view key) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_modified = true;
    return Slot(key);
}

void CThreadSafeMap::SetAt(std::string_view key, std::string_view value) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_modified = true;
    Store(key, value);
}

// ---------------------------------------------------------------------------------------------
// CStorableMap

CStorableMap::~CStorableMap() {
    if (m_traceLevel > 2)
        DiagLog().LogAt(7, "CStorableMap::~CStorableMap: 0x%08lX, %s:%d",
                        static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(this)),
                        kSourceFile, 278);
}

bool CStorableMap::RenameKey(std::string_view from, std::string_view to) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const std::string oldKey(from);
    const std::string newKey(to);
    if (!CMapEx::RenameKey(oldKey, newKey))
        return false;
    if (oldKey == newKey)
        return true;
    m_modified = true;
    // A line of the new key left over from the file (its entry was removed) gives way to the
    // renamed one, which takes the old key's line and comment block.
    std::erase_if(m_keyOrder, [&](const KeyLine& line) { return KeyOf(line) == newKey; });
    m_comments.RemoveKey(newKey);
    for (KeyLine& line : m_keyOrder) {
        if (KeyOf(line) == oldKey) {
            const std::uint32_t commented = line.length & kHasComment;
            line = MakeKeyLine(newKey, false, line.entry);
            line.length |= commented;
        }
    }
    std::string comment;
    if (m_comments.Lookup(oldKey, comment)) {
        m_comments.RemoveKey(oldKey);
        m_comments.SetAt(newKey, comment);
    }
    return true;
}

bool CStorableMap::AcceptEntry(std::string&, std::string&) {
    m_hookIsPlain = true;
    return true;
}

bool CStorableMap::Load(const std::string& path) {
    m_file.Bind(path);
    return Load();
}

bool CStorableMap::Load(const std::string& path, textfile::CReadAhead&& ahead) {
    return textfile::LoadReadAhead(m_file, path, std::move(ahead), [this] { return Load(); });
}

bool CStorableMap::LoadWithin(const std::string& path, const std::string& root) {
    m_file.Bind(path, root);
    return Load();
}

bool CStorableMap::Load() {
    if (!m_file.TakeStamp() || !BeforeLoad())
        return false;
    return textfile::FalseOnMemoryError([&] {
        auto text = std::make_shared<platform::LargeString>();
        if (!m_file.ReadForLoad(*text))
            return false;
        return LoadText(std::move(text));
    });
}

bool CStorableMap::LoadFromText(std::shared_ptr<const platform::LargeString> text) {
    if (!text)
        return false;
    return textfile::FalseOnMemoryError([&] { return LoadText(std::move(text)); });
}

bool CStorableMap::LoadText(std::shared_ptr<const platform::LargeString> text) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    RemoveAll();
    m_keyOrder.clear();
    m_keyOrderOwn.clear();
    m_keyOrderRepeats = false;
    m_comments.RemoveAll();
    m_text = text;
    AdoptText(text);
    if (!BeforeParse())
        return false;
    Parse(*text);
    m_keyOrderNumbering = GetNumbering();
    m_keyOrderComments = m_comments.GetVersion();
    if (!AfterParse())
        return false;
    AfterLoad();
    m_loaded = true;
    m_modified = false;
    return true;
}

namespace {

// Walks the lines of a text a fixed number of lines ahead of the load, cutting out what looks
// like a key and a value; a line that is blank, a comment or has no separator yields nothing.
class CLineScout {
public:
    // A line as the scout saw it.
    struct Line {
        std::string_view raw;        // as the file has it, line end aside
        CStorableMap::LineHint hint; // both empty when it has no entry
        bool plain = false;          // no "#" anywhere: the hint is the load's own cut
        bool end = true;             // the text ended before this line
        std::size_t hash = 0;        // CMapEx::KeyHash(hint.key), once taken
    };

    CLineScout(std::string_view text, char separator) : m_text(text), m_separator(separator) {}

    Line Next() {
        Line scouted;
        if (m_at >= m_text.size())
            return scouted;
        std::size_t end = m_text.find('\n', m_at);
        if (end == std::string_view::npos)
            end = m_text.size();
        scouted.end = false;
        scouted.raw = m_text.substr(m_at, end - m_at);
        m_at = end + 1;
        const std::string_view line = textfile::Trim(scouted.raw);
        const std::size_t colon = line.find(m_separator);
        if (colon == std::string_view::npos || line.starts_with('#'))
            return scouted;
        scouted.plain = line.find('#') == std::string_view::npos;
        scouted.hint.key = textfile::TrimRight(line.substr(0, colon));
        const std::string_view value = line.substr(colon + 1);
        // The line is trimmed already: without a "#" its value needs trimming on the left only.
        scouted.hint.value = scouted.plain ? textfile::TrimLeft(value)
                                           : textfile::Trim(value.substr(0, value.find('#')));
        return scouted;
    }

private:
    std::string_view m_text;
    char m_separator;
    std::size_t m_at = 0;
};

} // namespace

void CStorableMap::Parse(std::string_view text) {
    const std::size_t lines = textfile::CountLines(text);
    Reserve(lines);
    if (m_keepComments)
        m_keyOrder.reserve(lines);
    // Reused from line to line, so that a line costs no allocation of its own. The entry hook
    // works on copies; what it leaves as it was is stored as a view into the text.
    std::string pending;
    std::string discarded;
    std::string unescaped;
    std::string key;
    std::string value;
    // A scout runs ahead of the load and cuts its lines, so that the index slots a line will
    // need, the map's and any the entry hook looks at, are fetched while the lines before it are
    // worked on: a large file then waits for memory once per many lines instead of once or twice
    // per line. Its cut of a line is hinted when the scout reaches it (kFar lines ahead) and
    // again kNear lines ahead, when the key's hash is taken for the fetch. A line without any
    // "#" is stored as the scout cut it, with that hash; any other goes through the comment
    // rules below.
    constexpr std::size_t kFar = 16;
    constexpr std::size_t kNear = 8;
    CLineScout far(text, m_separator);
    std::array<CLineScout::Line, 2 * kFar> ring{}; // a line's place is free once it is stored
    std::size_t scouted = 0;
    const auto scout = [&] {
        CLineScout::Line& farLine = ring[scouted % ring.size()];
        farLine = far.Next();
        LineHint nearLine;
        if (scouted >= kFar - kNear) {
            CLineScout::Line& near = ring[(scouted - (kFar - kNear)) % ring.size()];
            nearLine = near.hint;
            if (!nearLine.key.empty()) {
                near.hash = KeyHash(nearLine.key);
                PrefetchHash(near.hash);
            }
        }
        ++scouted;
        if (!farLine.hint.key.empty() || !nearLine.key.empty())
            HintEntries(farLine.hint, nearLine);
    };
    for (std::size_t i = 0; i < kFar; ++i)
        scout();
    // The map's own hook keeps every entry as it stands; once it has said so, the entries go
    // into the map without the copies a hook of a derived class may rewrite.
    m_hookIsPlain = false;
    for (std::size_t lineNumber = 0;; ++lineNumber) {
        scout();
        const CLineScout::Line& scoutLine = ring[lineNumber % ring.size()];
        if (scoutLine.end)
            break;
        std::string_view data;
        std::string_view keyText;
        std::string_view valueText;
        if (scoutLine.plain) {
            keyText = scoutLine.hint.key;
            valueText = scoutLine.hint.value;
        } else {
            textfile::CommentSplit split = textfile::SplitComment(
                textfile::Trim(scoutLine.raw), m_keepComments ? pending : discarded);
            data = split.data;
            if (split.escapedAt != std::string_view::npos) {
                // "\#" keeps the "#" as data, and with it the rest of the line.
                unescaped.assign(data.substr(0, split.escapedAt));
                unescaped.append(data.substr(split.escapedAt + 1));
                data = unescaped;
            }
            data = textfile::TrimRight(data);
            const std::size_t colon = data.find(m_separator);
            if (colon == std::string_view::npos) {
                if (m_keepComments)
                    pending.push_back('\n');
                continue;
            }
            keyText = textfile::TrimRight(data.substr(0, colon));
            valueText = textfile::TrimLeft(data.substr(colon + 1));
        }
        if (keyText.empty() || valueText.empty())
            continue;
        const bool inText = scoutLine.plain || data.data() != unescaped.data();
        bool keyKept = inText;
        bool valueKept = inText;
        if (!m_hookIsPlain || !inText) {
            key.assign(keyText);
            value.assign(valueText);
            if (!AcceptEntry(key, value))
                continue; // the comment block waits for the next accepted entry
            keyKept = inText && key == keyText;
            valueKept = inText && value == valueText;
        }
        bool first = false;
        std::optional<std::size_t> hash;
        if (scoutLine.hint.key.data() == keyText.data() &&
            scoutLine.hint.key.size() == keyText.size())
            hash = scoutLine.hash;
        const std::size_t n = keyKept && valueKept ? StoreViews(keyText, valueText, &first, hash)
                                                   : Store(key, value, &first);
        if (!m_keepComments)
            continue;
        const bool commented = !pending.empty();
        if (commented) {
            m_comments.SetAt(keyKept ? keyText : key, pending);
        } else if (!first) {
            // a repeated key takes the empty block of its last line
            m_comments.RemoveKey(keyKept ? keyText : key);
        }
        if (!first)
            m_keyOrderRepeats = true;
        pending.clear();
        // The map may move its own copies later; the line keeps the text's or one of its own.
        KeyLine line = keyKept ? MakeKeyLine(keyText, true, n) : MakeKeyLine(key, false, n);
        if (commented)
            line.length |= kHasComment;
        m_keyOrder.push_back(line);
    }
}

std::string_view CStorableMap::KeyOf(const KeyLine& line) const {
    const char* base = (line.length & kOwnKey) != 0 ? m_keyOrderOwn.data() : m_text->data();
    return std::string_view(base + line.at, line.length & kLengthMask);
}

CStorableMap::KeyLine CStorableMap::MakeKeyLine(std::string_view key, bool inText,
                                                std::size_t entry) {
    const std::size_t at = inText ? static_cast<std::size_t>(key.data() - m_text->data())
                                  : m_keyOrderOwn.size();
    if (key.size() > kLengthMask || at > UINT32_MAX || entry > UINT32_MAX)
        throw std::length_error("key line");
    if (!inText)
        m_keyOrderOwn.append(key);
    return KeyLine{static_cast<std::uint32_t>(at),
                   static_cast<std::uint32_t>(key.size()) | (inText ? 0 : kOwnKey),
                   static_cast<std::uint32_t>(entry)};
}

platform::LargeString CStorableMap::Serialize() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    // All values start in one column: tab stops every 8 columns, T tabs after the widest key.
    std::size_t widest = 0;
    std::size_t bytes = 0;
    for (std::size_t n = 0; n < EntrySlots(); ++n) {
        if (EntryIsLive(n)) {
            widest = std::max(widest, EntryKey(n).size() + 1);
            bytes += EntryKey(n).size() + EntryValue(n).size() + 8;
        }
    }
    const std::size_t tabs = widest <= 8 ? 1 : (widest + 7) / 8;
    const std::string tabString(tabs, '\t');

    textfile::CrlfText out;
    out.Reserve(bytes + bytes / 4);
    platform::LargeString& raw = out.Raw();
    std::string line;
    auto writeEntry = [&](std::string_view key, std::string_view value) {
        const std::string_view pad(tabString.data(), tabs - std::min(tabs, (key.size() + 1) / 8));
        // The reader would take an unescaped "#" for the start of a comment and lose the rest
        // of the value; "\#" brings it back unchanged. Lines without "#" and line breaks, nearly
        // all of them, go straight into the output.
        const std::size_t start = raw.size();
        raw.append(key);
        raw.push_back(m_separator);
        raw.append(pad);
        raw.append(value);
        if (!HoldsHashOrBreak(std::string_view(raw).substr(start))) {
            raw.append("\r\n");
            return;
        }
        raw.resize(start);
        line.assign(key);
        line.push_back(m_separator);
        line.append(pad);
        line.append(value);
        std::size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.insert(hash, 1, '\\');
        line.push_back('\n');
        out << line;
    };

    // The lines of the file first, in their order, each with its comment block; an entry is
    // found by the number it had when loaded while the numbers still hold.
    const bool numbersHold = m_keyOrderNumbering == GetNumbering();
    // Each line knows its comment block while the blocks are as loaded and no key stood twice
    // (all lines of a key share the block of its last line).
    const bool commentsHold = m_keyOrderComments == m_comments.GetVersion() && !m_keyOrderRepeats;
    std::vector<bool> written(EntrySlots(), false);
    for (const KeyLine& keyLine : m_keyOrder) {
        const std::string_view key = KeyOf(keyLine);
        std::size_t n = keyLine.entry;
        if (!numbersHold || n >= EntrySlots() || !SameText(EntryKey(n), key))
            n = EntryNumber(key);
        if (n == npos)
            continue;
        written[n] = true;
        if ((!commentsHold || (keyLine.length & kHasComment) != 0) && !m_comments.IsEmpty())
            if (auto comment = m_comments.FindView(key))
                out << *comment;
        writeEntry(key, EntryValue(n));
    }
    for (std::size_t n = 0; n < EntrySlots(); ++n)
        if (EntryIsLive(n) && !written[n])
            writeEntry(EntryKey(n), EntryValue(n));
    return out.Take();
}

bool CStorableMap::Save(bool makeBackup, std::string_view backupBase, std::string_view moment) {
    if (makeBackup)
        (void)m_file.MakeBackup(backupBase, moment);
    return textfile::FalseOnMemoryError([&] {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (!m_file.Replace(Serialize()))
            return false;
        m_modified = false;
        return true;
    });
}

// ---------------------------------------------------------------------------------------------
// CConfigMap

bool CConfigMap::LoadFromEnv(const std::string& fileName, const char* variable) {
    auto directory = platform::GetEnvironment(variable);
    if (!directory)
        return false;
    return Load(PathJoin(*directory, fileName));
}

std::string CConfigMap::GetString(std::string_view key, std::string_view defaultValue) const {
    std::string value;
    if (Lookup(key, value))
        return value;
    return std::string(defaultValue);
}

int CConfigMap::GetInt(std::string_view key, int defaultValue) const {
    std::string value;
    if (Lookup(key, value))
        return ParseLeadingInt(value);
    return defaultValue;
}

void CConfigMap::GetList(std::string_view key, CStringListEx& list,
                         std::string_view defaultValue) const {
    list.AddTokens(GetString(key, defaultValue), ",");
}

void CConfigMap::SetString(std::string_view key, std::string_view value) {
    // Out of memory, the page goes on with the old value; nothing else can be done here.
    (void)textfile::FalseOnMemoryError([&] {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (value.empty())
            RemoveKey(key);
        else
            Store(key, value);
        m_modified = true;
        return true;
    });
}

void CConfigMap::SetInt(std::string_view key, int value) {
    SetString(key, std::to_string(value));
}

void CConfigMap::SetUInt(std::string_view key, unsigned value) {
    SetString(key, std::to_string(value));
}

void CConfigMap::SetList(std::string_view key, const CStringListEx& list) {
    SetString(key, list.Join(","));
}

// ---------------------------------------------------------------------------------------------

std::string PathJoin(std::string_view directory, std::string_view name) {
    // Either separator counts where the system takes both (Windows takes "/" beside "\\").
    const std::string_view separators = platform::kPathSeparators;
    if ((name.size() >= 2 && name[1] == ':') ||
        (!name.empty() && separators.find(name[0]) != std::string_view::npos))
        return std::string(name);
    std::string path(directory);
    if (!path.empty() && separators.find(path.back()) == std::string_view::npos)
        path.push_back(platform::kPathSeparator);
    path.append(name);
    return path;
}

int ParseLeadingInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && textfile::IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-value);
    return static_cast<int>(std::min<long long>(value, INT_MAX));
}
