// Ordered string lists and the list files built on them ("domains", "backupdomains", the
// access lists): one item per line, comments kept.
#pragma once

#include "Common/Lock.h"
#include "Common/MapEx.h"
#include "Common/TextFile.h"

#include "Common/StringArena.h"
#include "platform/Memory.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class CStringListEx;

// A place in a string list; a default one is "none" and tests false. It stays valid while its
// item is in the list, whatever else is added or removed.
class CStringListPosition {
public:
    CStringListPosition() = default;
    CStringListPosition(std::nullptr_t) {}
    explicit operator bool() const { return m_node != 0; }
    bool operator==(const CStringListPosition& other) const = default;
    bool operator==(std::nullptr_t) const { return m_node == 0; }

private:
    friend class CStringListEx;
    explicit CStringListPosition(std::uint32_t node) : m_node(node) {}
    std::uint32_t m_node = 0; // the node's number + 1
};

// A list of 8-bit strings with stable positions. Items are handed out as views, valid until the
// list next changes: a list file of a hundred thousand lines is loaded without a string or a
// node allocation per line, its items viewing the file's bytes where they stand.
class CStringListEx {
public:
    using POSITION = CStringListPosition;

    CStringListEx() = default;
    CStringListEx(const CStringListEx& other) : m_items(other.CopyItems()) {}
    CStringListEx& operator=(const CStringListEx& other);
    virtual ~CStringListEx() = default;

    std::size_t GetCount() const;
    bool IsEmpty() const { return GetCount() == 0; }

    // Head and tail of a non-empty list.
    std::string_view GetHead() const;
    std::string_view GetTail() const;

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
    std::string_view GetNext(POSITION& position) const;
    std::string_view GetPrev(POSITION& position) const;
    std::string_view GetAt(POSITION position) const;
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
    // The items as a doubly linked list of numbered nodes in one array, so that a position is a
    // number and a node costs no allocation of its own. An item's bytes are in the text the
    // list was loaded from or in the arena; neither moves nor frees bytes before RemoveAll.
    struct Storage {
        struct Node {
            const char* data;
            std::uint32_t size;
            std::uint32_t prev; // node number + 1, 0 for none
            std::uint32_t next;
        };
        std::vector<Node, platform::LargeAllocator<Node>> nodes;
        std::uint32_t head = 0;
        std::uint32_t tail = 0;
        std::uint32_t freed = 0; // the first node of the chain of unused ones (through next)
        std::size_t count = 0;
        CStringArena arena;
        std::shared_ptr<const platform::LargeString> text;

        Node& at(std::uint32_t n) { return nodes[n - 1]; }
        const Node& at(std::uint32_t n) const { return nodes[n - 1]; }
        std::string_view item(std::uint32_t n) const { return {at(n).data, at(n).size}; }
        // A node for bytes the storage already holds, linked in before the node before (at the
        // end for 0); its number.
        std::uint32_t Link(std::string_view held, std::uint32_t before);
        std::uint32_t Insert(std::string_view item, std::uint32_t before) {
            return Link(arena.Store(item), before);
        }
        void Unlink(std::uint32_t n);
        void Clear();
        // Calls f(item) for every item from the head.
        template <class F> void ForEach(F&& f) const {
            for (std::uint32_t n = head; n != 0; n = at(n).next)
                f(item(n));
        }
    };

    // Inserts item before the first item that compares greater, byte-wise; nothing when an
    // equal item comes first. Shared by every list that keeps itself sorted.
    void InsertSortedImpl(std::string_view item);

    // A copy of the items in order, sharing the loaded text and holding the rest in its arena.
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
    // Called for every item the load meets, in file order; false drops it.
    virtual bool AcceptEntry(std::string_view item);
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
