// Maps of strings and the key-value configuration files built on them.
//
// CMapEx           string map; keys compared exactly, each key once
// CThreadSafeMap   every operation under one recursive lock, plus a modified flag
// CStorableMap     bound to one file: comment-preserving load and save with a backup copy
// CConfigMap       the service files: load by name from the configuration directory, typed access
//
// Strings are the files' own 8-bit bytes (Windows-1252); nothing here converts them, so every
// byte of a file (0x80-0xFF, the five that Windows-1252 leaves undefined, NUL, a lone CR)
// survives a load and a save unchanged. Only the Qt layer converts, at its boundary.
#pragma once

#include "Common/Lock.h"
#include "Common/StringArena.h"
#include "Common/TextFile.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CStringListEx;

class CMapEx {
public:
    // A place in the iteration; 0 means none. Iteration follows the order in which keys were
    // first stored, so everything derived from a map (a saved file among others) is
    // deterministic.
    using POSITION = std::size_t;

    CMapEx() = default;
    CMapEx(const CMapEx& other);
    CMapEx& operator=(const CMapEx& other);
    virtual ~CMapEx();

    std::size_t GetCount() const;
    bool IsEmpty() const { return GetCount() == 0; }
    virtual bool Lookup(std::string_view key, std::string& value) const;
    bool LookupKey(std::string_view key, std::string& storedKey) const;
    bool Contains(std::string_view key) const;
    // The stored value or null. Valid until the map next changes; no lock is held after the
    // call returns. The first call for an entry makes a string of its value.
    const std::string* FindValue(std::string_view key) const;
    // The stored value without copying, or nothing; valid like FindValue's. Code inside the
    // program asks this (or EntryKey and EntryValue) rather than FindValue: no string is made.
    std::optional<std::string_view> FindView(std::string_view key) const;
    // The value slot of key, created empty when the key is new. The reference is valid until
    // the key is removed or the map is cleared.
    virtual std::string& operator[](std::string_view key);
    virtual void SetAt(std::string_view key, std::string_view value);
    virtual bool RemoveKey(std::string_view key);
    // Gives the entry of from the key to, keeping its value and its place in the order; false
    // (and nothing changed) when from is missing or to is already taken by another entry.
    virtual bool RenameKey(std::string_view from, std::string_view to);
    virtual void RemoveAll();
    POSITION GetStartPosition() const;
    void GetNextAssoc(POSITION& position, std::string& key, std::string& value) const;

    // Counts every change of the content (store, remove, clear), so that a derived class can
    // tell whether an index it built from the entries is still current. A write through the
    // reference operator[] returns counts as made at the time of the call.
    std::uint64_t GetVersion() const { return m_version; }

    // The hash the index places a key by: eight bytes at a time, the last ones overlapping, and
    // both halves mixed well, since the upper one is kept beside the slot to tell keys apart.
    // Only ever kept in memory, never written.
    static std::size_t KeyHash(std::string_view key) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(key.data());
        std::size_t n = key.size();
        std::uint64_t h = 0x9E3779B97F4A7C15ull ^ (n * 0xFF51AFD7ED558CCDull);
        const auto word = [](const unsigned char* at) {
            std::uint64_t w;
            std::memcpy(&w, at, 8);
            return w;
        };
        const auto mix = [](std::uint64_t hash, std::uint64_t w) {
            hash = (hash ^ w) * 0xBF58476D1CE4E5B9ull;
            return hash ^ (hash >> 29);
        };
        if (n >= 8) {
            for (; n > 8; p += 8, n -= 8)
                h = mix(h, word(p));
            h = mix(h, word(p + n - 8)); // the last eight bytes, overlapping the word before
        } else if (n >= 4) {
            std::uint32_t a, b;
            std::memcpy(&a, p, 4);
            std::memcpy(&b, p + n - 4, 4);
            h = mix(h, (std::uint64_t{a} << 32) | b);
        } else if (n > 0) {
            h = mix(h, (std::uint64_t{p[0]} << 16) | (std::uint64_t{p[n / 2]} << 8) | p[n - 1]);
        }
        h = (h ^ (h >> 32)) * 0xD6E8FEB86659FD93ull;
        return static_cast<std::size_t>(h ^ (h >> 32));
    }

    // Above 4, Lookup sends trace lines to the diagnostic log.
    void SetTraceLevel(int level) { m_traceLevel = level; }
    int GetTraceLevel() const { return m_traceLevel; }

protected:
    using Guard = COptionalGuard;

    // The unlocked core, for derived classes that already hold the lock.
    // created, when given, tells whether the key was new.
    std::string& Slot(std::string_view key, bool* created = nullptr);
    // Stores value under key (a copy of both); the entry number.
    std::size_t Store(std::string_view key, std::string_view value, bool* created = nullptr);
    // Like Store, but keeps the views themselves: their bytes must be part of a text handed to
    // AdoptText, which the map keeps until it is cleared. This is how a file's content becomes
    // the map's without a copy of every key and value. hash, when given, is KeyHash(key).
    std::size_t StoreViews(std::string_view key, std::string_view value, bool* created = nullptr,
                           std::optional<std::size_t> hash = std::nullopt);
    void AdoptText(std::shared_ptr<const platform::LargeString> text);
    void Reserve(std::size_t entries);
    // Has the index slot of a key with this hash (KeyHash) fetched into the cache, for a caller
    // that will store or find the key shortly. Changes nothing.
    void PrefetchHash(std::size_t hash) const;
    // Entries by number, in insertion order, removed ones included as holes: a derived class
    // can mark entries in a plain vector instead of a set of keys.
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    std::size_t EntryNumber(std::string_view key) const;
    std::size_t EntrySlots() const { return m_entries.size(); }
    bool EntryIsLive(std::size_t n) const { return m_entries[n].live(); }
    std::string_view EntryKey(std::size_t n) const { return m_entries[n].key(); }
    std::string_view EntryValue(std::size_t n) const { return ValueOf(m_entries[n]); }
    // Changes whenever entry numbers are given anew (holes closed, the map cleared or copied),
    // so that numbers a derived class kept from an earlier moment can be trusted or not.
    std::uint64_t GetNumbering() const { return m_numbering; }

    std::recursive_mutex* m_lock = nullptr;
    int m_traceLevel = 0;

private:
    // Key and value view bytes held by the map: its arena, or a text it adopted. A value that
    // was handed out as a string (FindValue, operator[]) lives in owned; once handed out for
    // writing (ownedIsValue) owned is the value, otherwise it is a copy of the view.
    struct Entry {
        // Thirty-two bytes: a map of a provider's aliases holds hundreds of thousands, and
        // fresh memory is dear. A removed entry has no key.
        const char* keyData = nullptr;
        const char* valueData = nullptr;
        std::uint32_t keyLength = 0;
        std::uint32_t valueLength = 0; // with kOwnedIsValue
        std::string* owned = nullptr;  // the map's own; deleted with the entry

        bool live() const { return keyData != nullptr; }
        std::string_view key() const { return {keyData, keyLength}; }
        std::string_view value() const { return {valueData, valueLength & kLengthMask}; }
        bool ownedIsValue() const { return (valueLength & kOwnedIsValue) != 0; }
        void SetKey(std::string_view text) {
            keyData = text.data() ? text.data() : "";
            keyLength = CheckedLength(text.size());
        }
        void SetValue(std::string_view text) {
            valueData = text.data();
            valueLength = CheckedLength(text.size()) | (valueLength & kOwnedIsValue);
        }
        void MarkOwnedIsValue() { valueLength |= kOwnedIsValue; }
    };
    static constexpr std::uint32_t kOwnedIsValue = 1u << 31;
    static constexpr std::uint32_t kLengthMask = kOwnedIsValue - 1;
    static std::uint32_t CheckedLength(std::size_t length);
    static std::string_view ValueOf(const Entry& entry) {
        return entry.ownedIsValue() ? std::string_view(*entry.owned) : entry.value();
    }
    using Entries = std::vector<Entry, platform::LargeAllocator<Entry>>;
    static void FreeOwned(Entries& entries);
    // An index slot holds the entry number + 1 in its low half (0 empty, all ones removed)
    // and the upper half of the key's hash in its high half, so that a probe compares keys
    // only when the hashes agree and rarely touches the entries themselves.
    static constexpr std::uint64_t kEmpty = 0;
    static constexpr std::uint32_t kRemoved = 0xFFFFFFFFu;
    static std::uint32_t SlotEntry(std::uint64_t slot) { return static_cast<std::uint32_t>(slot); }
    static std::uint64_t MakeSlot(std::size_t entry, std::size_t hash) {
        return (static_cast<std::uint64_t>(hash >> 32) << 32) |
               static_cast<std::uint32_t>(entry + 1);
    }

    std::size_t Probe(std::string_view key, std::size_t hash) const;
    void Rehash(std::size_t buckets);
    // The entry of key, made with an empty value when new; key is stored by copy unless
    // keyIsHeld.
    std::size_t Insert(std::string_view key, std::size_t hash, bool keyIsHeld, bool* created);
    void AssignValue(Entry& entry, std::string_view value);
    // Copies every key and value into a fresh arena once replaced values have come to outweigh
    // the live ones, so that a long-lived map that is written again and again stays bounded.
    void CompactIfWasteful();
    void CopyFrom(const CMapEx& other);
    void ClearStorage();

    // Entries in insertion order; removed ones stay as holes until the next rehash. The index
    // is open addressing over entry numbers + 1.
    Entries m_entries;
    std::vector<std::uint64_t, platform::LargeAllocator<std::uint64_t>> m_index;
    std::size_t m_live = 0;
    std::size_t m_used = 0; // index slots not empty (live and removed)
    std::uint64_t m_version = 0;
    std::uint64_t m_numbering = 0;
    CStringArena m_arena;
    std::vector<std::shared_ptr<const platform::LargeString>> m_texts;
    std::size_t m_heldBytes = 0;  // bytes of the views of live entries
    std::size_t m_wasteBytes = 0; // arena bytes no entry views any more
    // Taken while FindValue makes an entry's string, so that readers of a map without a lock
    // stay as safe to run side by side as they were.
    mutable std::mutex m_ownedMutex;
};

class CThreadSafeMap : public CMapEx {
public:
    CThreadSafeMap() { m_lock = &m_mutex; }
    CThreadSafeMap(const CThreadSafeMap&) = delete;
    CThreadSafeMap& operator=(const CThreadSafeMap&) = delete;

    bool Lookup(std::string_view key, std::string& value) const override;
    std::string& operator[](std::string_view key) override;
    void SetAt(std::string_view key, std::string_view value) override;

    bool IsModified() const { return m_modified; }
    void SetModified(bool modified = true) { m_modified = modified; }

protected:
    mutable std::recursive_mutex m_mutex;
    bool m_modified = false;
};

class CStorableMap : public CThreadSafeMap {
public:
    // What a load sees of a line ahead (see HintEntries).
    struct LineHint {
        std::string_view key;
        std::string_view value;
    };

    CStorableMap() = default;
    ~CStorableMap() override;

    virtual bool IsLoaded() const { return m_loaded; }
    // Re-reads the bound file; false when it is missing, unreadable or a hook refuses.
    virtual bool Load();
    // Binds path, forgets the stored file time and size, and loads.
    virtual bool Load(const std::string& path);
    // Like Load(path), with the file's time, size and bytes read ahead by ReadAhead.
    bool Load(const std::string& path, textfile::CReadAhead&& ahead);
    // Like Load(path), but binds the file confined to the folder root (see CBoundFile::root):
    // for the files of an account folder, which must never lead out of the spool. The binding
    // holds for later loads and saves until the next Load(path) or LoadWithin.
    bool LoadWithin(const std::string& path, const std::string& root);
    // Writes the map to the bound file, after copying the old file to backupBase followed by
    // the save's moment, or the local time without one (the file's own path when backupBase is
    // empty), if makeBackup is set (see CBoundFile::MakeBackup). The file is replaced
    // atomically: on failure the old file is untouched.
    virtual bool Save(bool makeBackup, std::string_view backupBase = {},
                      std::string_view moment = {});
    // The exact bytes Save would write now: what a preview of the save compares with the file.
    platform::LargeString TextToSave() const { return Serialize(); }
    // Also the saved file keeps the entry's line where it stood, with the comment block above
    // it.
    bool RenameKey(std::string_view from, std::string_view to) override;

    // The text the last load read, which the entries were parsed from; null before a load.
    std::shared_ptr<const platform::LargeString> LoadedText() const { return m_text; }
    // Parses text as if it had been read from a file, without binding one: for a map of what
    // a file held at some moment (the base of a merge).
    bool LoadFromText(std::shared_ptr<const platform::LargeString> text);

    const std::string& GetPath() const { return m_file.path; }
    std::int64_t GetFileTime() const { return m_file.time; }
    std::uint64_t GetFileSize() const { return m_file.size; }
    // Another program wrote the file since the last load or save (see CBoundFile).
    bool ChangedOnDisk() const { return m_file.ChangedOnDisk(); }
    // The comment block that stood above each key in the file.
    const CMapEx& GetComments() const { return m_comments; }

protected:
    // Called for every entry the load meets, in file order; false drops it. The hook may
    // rewrite key and value before they are stored. This one keeps everything, and the load,
    // once it has met it, stores the remaining entries without calling it again: an override
    // must therefore not call it.
    virtual bool AcceptEntry(std::string& key, std::string& value);
    virtual bool BeforeLoad() { return true; }
    virtual void AfterLoad() {}
    virtual bool BeforeParse() { return true; }
    virtual bool AfterParse() { return true; }
    // A hint for the lines a load will reach shortly, with their key and value roughly cut out
    // (before AcceptEntry, comments aside; empty for a line without an entry): far is some
    // lines ahead, near a few, and every line comes once as far and later once as near. A hook
    // that looks things up in a large table can thus have that memory fetched in two steps
    // while the lines before are stored. Must change nothing.
    virtual void HintEntries(const LineHint&, const LineHint&) const {}

    // The text Save writes for the current content. The reader takes an unescaped "#" for the
    // start of a comment, so the first "#" of a line is written as "\#", which the reader turns
    // back into "#": every value survives a save and a reload.
    platform::LargeString Serialize() const;

    bool m_loaded = false;
    bool m_keepComments = true;
    char m_separator = ':';
    textfile::CBoundFile m_file; // path, time and size
    // The keys in the order of the file's lines, each with the entry number it had when it was
    // loaded. While the map's numbering is still m_keyOrderNumbering a save finds the entries
    // by that number instead of a look-up. A line is twelve bytes: its key is a place in the
    // loaded text, or in m_keyOrderOwn for a key the load rewrote or a rename gave.
    struct KeyLine {
        std::uint32_t at;
        std::uint32_t length; // with the two flags below
        std::uint32_t entry;
    };
    static constexpr std::uint32_t kOwnKey = 1u << 31;     // at is in m_keyOrderOwn
    static constexpr std::uint32_t kHasComment = 1u << 30; // a comment block stood above it
    static constexpr std::uint32_t kLengthMask = kHasComment - 1;
    std::string_view KeyOf(const KeyLine& line) const;
    // A line for key: a view into the loaded text is kept as its place there, anything else
    // is copied into m_keyOrderOwn.
    KeyLine MakeKeyLine(std::string_view key, bool inText, std::size_t entry);
    std::vector<KeyLine, platform::LargeAllocator<KeyLine>> m_keyOrder;
    std::string m_keyOrderOwn;
    CMapEx m_comments;

private:
    void Parse(std::string_view text);
    // The load after the file was read: the entries become those of text.
    bool LoadText(std::shared_ptr<const platform::LargeString> text);

    // The loaded file, which the map's entries and m_keyOrder view.
    std::shared_ptr<const platform::LargeString> m_text;
    std::uint64_t m_keyOrderNumbering = 0;
    std::uint64_t m_keyOrderComments = 0; // the version of m_comments the lines' blocks are of
    bool m_keyOrderRepeats = false;       // some key stood on more than one line
    bool m_hookIsPlain = false;           // AcceptEntry is this class's own
};

class CConfigMap : public CStorableMap {
public:
    // Loads PathJoin(value of the variable, fileName); false without touching the map when
    // the variable is not set.
    bool LoadFromEnv(const std::string& fileName, const char* variable = "MAILCONFIGDIR");

    std::string GetString(std::string_view key, std::string_view defaultValue) const;
    int GetInt(std::string_view key, int defaultValue) const;
    // Appends the comma-separated items of GetString(key, defaultValue) to list.
    void GetList(std::string_view key, CStringListEx& list, std::string_view defaultValue) const;
    // An empty value removes the key; either way the map counts as modified.
    void SetString(std::string_view key, std::string_view value);
    void SetInt(std::string_view key, int value);
    void SetUInt(std::string_view key, unsigned value);
    void SetList(std::string_view key, const CStringListEx& list);
};

// directory + separator + name; a name whose second character is ':' (a drive-qualified path)
// or that starts with the separator is already complete and is returned unchanged.
std::string PathJoin(std::string_view directory, std::string_view name);

// Decimal conversion as the services read numbers: optional blanks and sign, then the leading
// digits; text that does not start with a number gives 0. Saturates instead of overflowing.
int ParseLeadingInt(std::string_view text);
