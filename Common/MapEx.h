// Maps of strings and the key-value configuration files built on them.
//
// CMapEx           string map; keys compared exactly, each key once
// CThreadSafeMap   every operation under one recursive lock, plus a modified flag
// CStorableMap     bound to one file: comment-preserving load and save with a backup copy
// CConfigMap       the service files: load by name from the configuration directory, typed access
//
// Strings are the files' own 8-bit bytes (Windows-1252); nothing here converts them.
#pragma once

#include "Common/Lock.h"
#include "Common/StringArena.h"
#include "Common/TextFile.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
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
    virtual ~CMapEx() = default;

    std::size_t GetCount() const;
    bool IsEmpty() const { return GetCount() == 0; }
    virtual bool Lookup(std::string_view key, std::string& value) const;
    bool LookupKey(std::string_view key, std::string& storedKey) const;
    bool Contains(std::string_view key) const;
    // The stored value or null, without copying. Valid until the map next changes; no lock is
    // held after the call returns.
    const std::string* FindValue(std::string_view key) const;
    // The value slot of key, created empty when the key is new. The reference is valid until
    // the next key is added or the map is cleared.
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

    // Above 4, Lookup sends trace lines to the diagnostic log.
    void SetTraceLevel(int level) { m_traceLevel = level; }
    int GetTraceLevel() const { return m_traceLevel; }

protected:
    using Guard = COptionalGuard;

    // The unlocked core, for derived classes that already hold the lock.
    // created, when given, tells whether the key was new.
    std::string& Slot(std::string_view key, bool* created = nullptr);
    void Reserve(std::size_t entries);
    // Entries by number, in insertion order, removed ones included as holes: a derived class
    // can mark entries in a plain vector instead of a set of keys.
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    std::size_t EntryNumber(std::string_view key) const;
    std::size_t EntrySlots() const { return m_entries.size(); }
    bool EntryIsLive(std::size_t n) const { return m_entries[n].live; }
    const std::string& EntryKey(std::size_t n) const { return m_entries[n].key; }
    const std::string& EntryValue(std::size_t n) const { return m_entries[n].value; }

    std::recursive_mutex* m_lock = nullptr;
    int m_traceLevel = 0;

private:
    struct Entry {
        std::string key;
        std::string value;
        bool live = true;
    };
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

    // Entries in insertion order; removed ones stay as holes until the next rehash. The index
    // is open addressing over entry numbers + 1.
    std::vector<Entry> m_entries;
    std::vector<std::uint64_t> m_index;
    std::size_t m_live = 0;
    std::size_t m_used = 0; // index slots not empty (live and removed)
    std::uint64_t m_version = 0;
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
    CStorableMap() = default;
    ~CStorableMap() override;

    virtual bool IsLoaded() const { return m_loaded; }
    // Re-reads the bound file; false when it is missing, unreadable or a hook refuses.
    virtual bool Load();
    // Binds path, forgets the stored file time and size, and loads.
    virtual bool Load(const std::string& path);
    // Like Load(path), but binds the file confined to the folder root (see CBoundFile::root):
    // for the files of an account folder, which must never lead out of the spool. The binding
    // holds for later loads and saves until the next Load(path) or LoadWithin.
    bool LoadWithin(const std::string& path, const std::string& root);
    // Writes the map to the bound file, after copying the old file to backupBase followed by
    // the local time (the file's own path when backupBase is empty) if makeBackup is set. The
    // file is replaced atomically: on failure the old file is untouched.
    virtual bool Save(bool makeBackup, std::string_view backupBase = {});
    // Also the saved file keeps the entry's line where it stood, with the comment block above
    // it.
    bool RenameKey(std::string_view from, std::string_view to) override;

    const std::string& GetPath() const { return m_file.path; }
    std::int64_t GetFileTime() const { return m_file.time; }
    std::uint64_t GetFileSize() const { return m_file.size; }
    // The comment block that stood above each key in the file.
    const CMapEx& GetComments() const { return m_comments; }

protected:
    // Called for every entry the load meets, in file order; false drops it. The hook may
    // rewrite key and value before they are stored.
    virtual bool AcceptEntry(std::string& key, std::string& value);
    virtual bool BeforeLoad() { return true; }
    virtual void AfterLoad() {}
    virtual bool BeforeParse() { return true; }
    virtual bool AfterParse() { return true; }

    // The text Save writes for the current content.
    std::string Serialize() const;

    bool m_loaded = false;
    bool m_keepComments = true;
    char m_separator = ':';
    textfile::CBoundFile m_file;              // path, time and size
    std::vector<std::string_view> m_keyOrder; // views into m_keyOrderText
    CStringArena m_keyOrderText;
    CMapEx m_comments;

private:
    void Parse(std::string_view text);
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
