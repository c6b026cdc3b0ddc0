// Ordered string lists and the list files built on them ("domains", "backupdomains", the
// access lists): one item per line, comments kept.
#pragma once

#include "Common/Lock.h"
#include "Common/MapEx.h"
#include "Common/TextFile.h"

#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <string_view>

class CStringListEx;

// A place in a string list; a default one is "none" and tests false.
class CStringListPosition {
    using Iterator = std::list<std::string>::iterator;

public:
    CStringListPosition() = default;
    CStringListPosition(std::nullptr_t) {}
    explicit operator bool() const { return m_valid; }
    bool operator==(const CStringListPosition& other) const {
        return m_valid == other.m_valid && (!m_valid || m_it == other.m_it);
    }
    bool operator==(std::nullptr_t) const { return !m_valid; }

private:
    friend class CStringListEx;
    explicit CStringListPosition(Iterator it) : m_it(it), m_valid(true) {}
    Iterator m_it;
    bool m_valid = false;
};

class CStringListEx {
    using Storage = std::list<std::string>;

public:
    using POSITION = CStringListPosition;

    CStringListEx() = default;
    CStringListEx(const CStringListEx& other) : m_items(other.CopyItems()) {}
    CStringListEx& operator=(const CStringListEx& other);
    virtual ~CStringListEx() = default;

    std::size_t GetCount() const;
    bool IsEmpty() const { return GetCount() == 0; }

    // Head and tail of a non-empty list.
    std::string& GetHead();
    const std::string& GetHead() const;
    std::string& GetTail();
    const std::string& GetTail() const;

    POSITION AddHead(std::string_view item);
    POSITION AddTail(std::string_view item);
    void AddHead(const CStringListEx& other);
    void AddTail(const CStringListEx& other);
    std::string RemoveHead();
    std::string RemoveTail();
    void RemoveAll();

    POSITION GetHeadPosition() const;
    POSITION GetTailPosition() const;
    // The item at position; position moves to the next (previous) one, none after the end.
    std::string& GetNext(POSITION& position);
    const std::string& GetNext(POSITION& position) const;
    std::string& GetPrev(POSITION& position);
    const std::string& GetPrev(POSITION& position) const;
    std::string& GetAt(POSITION position);
    const std::string& GetAt(POSITION position) const;
    void SetAt(POSITION position, std::string_view item);
    void RemoveAt(POSITION position);
    POSITION InsertBefore(POSITION position, std::string_view item);
    POSITION InsertAfter(POSITION position, std::string_view item);

    // The first item equal to value (exact comparison), searching after startAfter when given.
    virtual POSITION Find(std::string_view value, POSITION startAfter = POSITION()) const;
    // The position of the zero-based index, none when out of range.
    POSITION FindIndex(std::size_t index) const;

    // Appends the pieces of text cut at every delimiter character; empty pieces between
    // delimiters are skipped, the others are trimmed and appended even when that empties them.
    void AddTokens(std::string_view text, std::string_view delimiters);
    // The items joined by separator.
    std::string Join(std::string_view separator) const;

protected:
    // Inserts item before the first item that compares greater, byte-wise; nothing when an
    // equal item comes first. Shared by every list that keeps itself sorted.
    void InsertSortedImpl(std::string_view item);

    Storage CopyItems() const;

    std::recursive_mutex* m_lock = nullptr;
    Storage m_items;
};

class CThreadSafeList : public CStringListEx {
public:
    CThreadSafeList() { m_lock = &m_mutex; }
    CThreadSafeList(const CThreadSafeList&) = delete;
    CThreadSafeList& operator=(const CThreadSafeList&) = delete;

protected:
    mutable std::recursive_mutex m_mutex;
};

class CSortedStringList : public CStringListEx {
public:
    void InsertSorted(std::string_view item) { InsertSortedImpl(item); }
};

class CStorableList : public CThreadSafeList {
public:
    CStorableList() = default;
    ~CStorableList() override = default;

    virtual bool IsLoaded() const { return m_loaded; }
    // The list operations leave this alone: whoever changes the list says so.
    virtual bool IsModified() const { return m_modified; }
    void SetModified(bool modified = true) { m_modified = modified; }

    virtual bool Load();
    virtual bool Load(const std::string& path);
    // Like Load(path), with the file's time, size and bytes read ahead by ReadAhead.
    bool Load(const std::string& path, textfile::CReadAhead&& ahead);
    // Writes the list, after a backup copy stamped with moment (or the time) when makeBackup is
    // set, as CStorableMap::Save; the file is replaced atomically, so a failure leaves the old
    // one untouched.
    virtual bool Save(bool makeBackup, std::string_view backupBase = {},
                      std::string_view moment = {});
    // The exact bytes Save would write now: what a preview of the save compares with the file.
    platform::LargeString TextToSave() const { return Serialize(); }
    // Binds and loads PathJoin(value of the variable, fileName); the path stays bound when the
    // file is missing, so a later Save creates it.
    bool LoadFromEnv(const std::string& fileName, const char* variable = "MAILCONFIGDIR");

    const std::string& GetPath() const { return m_file.path; }
    std::int64_t GetFileTime() const { return m_file.time; }
    std::uint64_t GetFileSize() const { return m_file.size; }
    // Another program wrote the file since the last load or save (see CBoundFile).
    bool ChangedOnDisk() const { return m_file.ChangedOnDisk(); }
    // Comment blocks by item text; the block after the last item is under "#".
    const CMapEx& GetComments() const { return m_comments; }

protected:
    virtual bool AcceptEntry(const std::string& item);
    virtual bool BeforeLoad() { return true; }
    virtual void AfterLoad() {}
    virtual bool BeforeParse() { return true; }
    virtual bool AfterParse() { return true; }

    // Items are written as they are: the list reader keeps the backslash of "\#" as part of
    // the item (unlike the key-value reader), so an item read with it is written with it.
    platform::LargeString Serialize() const;

    bool m_loaded = false;
    bool m_modified = false;
    bool m_keepComments = true;
    textfile::CBoundFile m_file; // path, time and size
    CMapEx m_comments;

private:
    void Parse(std::string_view text);
};
