#include "Common/StringList.h"

#include "Common/TextFile.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

// ---------------------------------------------------------------------------------------------
// CStringListEx::Storage

std::uint32_t CStringListEx::Storage::Link(std::string_view held, std::uint32_t before) {
    if (held.size() > UINT32_MAX)
        throw std::length_error("list item");
    std::uint32_t n = freed;
    if (n != 0) {
        freed = at(n).next;
    } else {
        if (nodes.size() >= UINT32_MAX - 1)
            throw std::bad_alloc();
        nodes.emplace_back();
        n = static_cast<std::uint32_t>(nodes.size());
    }
    Node& node = at(n);
    node.data = held.data();
    node.size = static_cast<std::uint32_t>(held.size());
    node.next = before;
    node.prev = before != 0 ? at(before).prev : tail;
    (node.prev != 0 ? at(node.prev).next : head) = n;
    (before != 0 ? at(before).prev : tail) = n;
    ++count;
    return n;
}

void CStringListEx::Storage::Unlink(std::uint32_t n) {
    Node& node = at(n);
    (node.prev != 0 ? at(node.prev).next : head) = node.next;
    (node.next != 0 ? at(node.next).prev : tail) = node.prev;
    node.data = nullptr;
    node.size = 0;
    node.prev = 0;
    node.next = freed;
    freed = n;
    --count;
}

void CStringListEx::Storage::Clear() {
    nodes.clear();
    nodes.shrink_to_fit();
    head = tail = freed = 0;
    count = 0;
    arena.Clear();
    text.reset();
}

// ---------------------------------------------------------------------------------------------
// CStringListEx

CStringListEx& CStringListEx::operator=(const CStringListEx& other) {
    if (this != &other) {
        Storage copy = other.CopyItems();
        COptionalGuard g(m_lock);
        m_items = std::move(copy);
    }
    return *this;
}

CStringListEx::Storage CStringListEx::CopyItems() const {
    COptionalGuard g(m_lock);
    Storage copy;
    copy.text = m_items.text;
    copy.nodes.reserve(m_items.count);
    const char* textBegin = m_items.text ? m_items.text->data() : nullptr;
    const char* textEnd = m_items.text ? textBegin + m_items.text->size() : nullptr;
    m_items.ForEach([&](std::string_view item) {
        const bool inText = item.data() >= textBegin && item.data() < textEnd;
        copy.Link(inText ? item : copy.arena.Store(item), 0);
    });
    return copy;
}

std::size_t CStringListEx::GetCount() const {
    COptionalGuard g(m_lock);
    return m_items.count;
}

std::string_view CStringListEx::GetHead() const {
    COptionalGuard g(m_lock);
    return m_items.item(m_items.head);
}

std::string_view CStringListEx::GetTail() const {
    COptionalGuard g(m_lock);
    return m_items.item(m_items.tail);
}

CStringListEx::POSITION CStringListEx::AddHead(std::string_view item) {
    COptionalGuard g(m_lock);
    return POSITION(m_items.Insert(item, m_items.head));
}

CStringListEx::POSITION CStringListEx::AddTail(std::string_view item) {
    COptionalGuard g(m_lock);
    return POSITION(m_items.Insert(item, 0));
}

void CStringListEx::AddHead(const CStringListEx& other) {
    const Storage copy = other.CopyItems();
    COptionalGuard g(m_lock);
    const std::uint32_t before = m_items.head;
    copy.ForEach([&](std::string_view item) { m_items.Insert(item, before); });
}

void CStringListEx::AddTail(const CStringListEx& other) {
    const Storage copy = other.CopyItems();
    COptionalGuard g(m_lock);
    copy.ForEach([&](std::string_view item) { m_items.Insert(item, 0); });
}

std::string CStringListEx::RemoveHead() {
    COptionalGuard g(m_lock);
    std::string item(m_items.item(m_items.head));
    m_items.Unlink(m_items.head);
    return item;
}

std::string CStringListEx::RemoveTail() {
    COptionalGuard g(m_lock);
    std::string item(m_items.item(m_items.tail));
    m_items.Unlink(m_items.tail);
    return item;
}

void CStringListEx::RemoveAll() {
    COptionalGuard g(m_lock);
    m_items.Clear();
}

CStringListEx::POSITION CStringListEx::GetHeadPosition() const {
    COptionalGuard g(m_lock);
    return POSITION(m_items.head);
}

CStringListEx::POSITION CStringListEx::GetTailPosition() const {
    COptionalGuard g(m_lock);
    return POSITION(m_items.tail);
}

std::string_view CStringListEx::GetNext(POSITION& position) const {
    COptionalGuard g(m_lock);
    const std::uint32_t n = position.m_node;
    position = POSITION(m_items.at(n).next);
    return m_items.item(n);
}

std::string_view CStringListEx::GetPrev(POSITION& position) const {
    COptionalGuard g(m_lock);
    const std::uint32_t n = position.m_node;
    position = POSITION(m_items.at(n).prev);
    return m_items.item(n);
}

std::string_view CStringListEx::GetAt(POSITION position) const {
    COptionalGuard g(m_lock);
    return m_items.item(position.m_node);
}

void CStringListEx::SetAt(POSITION position, std::string_view item) {
    COptionalGuard g(m_lock);
    const std::string_view stored = m_items.arena.Store(item);
    auto& node = m_items.at(position.m_node);
    node.data = stored.data();
    node.size = static_cast<std::uint32_t>(stored.size());
}

void CStringListEx::RemoveAt(POSITION position) {
    COptionalGuard g(m_lock);
    m_items.Unlink(position.m_node);
}

CStringListEx::POSITION CStringListEx::InsertBefore(POSITION position, std::string_view item) {
    COptionalGuard g(m_lock);
    return POSITION(m_items.Insert(item, position ? position.m_node : m_items.head));
}

CStringListEx::POSITION CStringListEx::InsertAfter(POSITION position, std::string_view item) {
    COptionalGuard g(m_lock);
    return POSITION(m_items.Insert(item, position ? m_items.at(position.m_node).next : 0));
}

CStringListEx::POSITION CStringListEx::Find(std::string_view value, POSITION startAfter) const {
    COptionalGuard g(m_lock);
    for (std::uint32_t n = startAfter ? m_items.at(startAfter.m_node).next : m_items.head; n != 0;
         n = m_items.at(n).next)
        if (m_items.item(n) == value)
            return POSITION(n);
    return POSITION();
}

CStringListEx::POSITION CStringListEx::FindIndex(std::size_t index) const {
    COptionalGuard g(m_lock);
    if (index >= m_items.count)
        return POSITION();
    std::uint32_t n = m_items.head;
    while (index-- > 0)
        n = m_items.at(n).next;
    return POSITION(n);
}

void CStringListEx::AddTokens(std::string_view text, std::string_view delimiters) {
    COptionalGuard g(m_lock);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of(delimiters, start);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > start)
            m_items.Insert(textfile::Trim(text.substr(start, end - start)), 0);
        start = end + 1;
    }
}

std::string CStringListEx::Join(std::string_view separator) const {
    COptionalGuard g(m_lock);
    std::string joined;
    bool first = true;
    m_items.ForEach([&](std::string_view item) {
        if (!first)
            joined.append(separator);
        first = false;
        joined.append(item);
    });
    return joined;
}

void CStringListEx::InsertSortedImpl(std::string_view item) {
    COptionalGuard g(m_lock);
    // Byte-wise on the 8-bit text: upper case sorts before lower case.
    std::uint32_t n = m_items.head;
    for (; n != 0; n = m_items.at(n).next) {
        const int order = m_items.item(n).compare(item);
        if (order == 0)
            return;
        if (order > 0)
            break;
    }
    m_items.Insert(item, n);
}

// ---------------------------------------------------------------------------------------------
// CStorableList

bool CStorableList::AcceptEntry(std::string_view) {
    return true;
}

bool CStorableList::Load(const std::string& path) {
    m_file.Bind(path);
    return Load();
}

bool CStorableList::Load(const std::string& path, textfile::CReadAhead&& ahead) {
    return textfile::LoadReadAhead(m_file, path, std::move(ahead), [this] { return Load(); });
}

bool CStorableList::LoadFromEnv(const std::string& fileName, const char* variable) {
    auto directory = platform::GetEnvironment(variable);
    if (!directory)
        return false;
    return Load(PathJoin(*directory, fileName));
}

bool CStorableList::Load() {
    if (!m_file.TakeStamp() || !BeforeLoad())
        return false;
    return textfile::FalseOnMemoryError([&] {
        auto text = std::make_shared<platform::LargeString>();
        if (!m_file.ReadForLoad(*text))
            return false;
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        m_items.Clear();
        m_comments.RemoveAll();
        m_items.text = text;
        if (!BeforeParse())
            return false;
        Parse(*text);
        if (!AfterParse())
            return false;
        AfterLoad();
        m_loaded = true;
        return true;
    });
}

namespace {

// A sign of an item, for the filter below: sixteen bits of its whole hash. Domains share
// their endings (".com"), so a sign from the last bytes alone told almost none apart.
std::size_t ItemSign(std::string_view item) {
    return CMapEx::KeyHash(item) >> (8 * sizeof(std::size_t) - 16);
}

} // namespace

void CStorableList::Parse(std::string_view content) {
    std::string pending;
    std::string discarded;
    // The signs of the items that were given a comment block. Only such an item can have one to
    // lose when it stands again without one, so most items need no look-up in the comments.
    std::vector<bool> commented(std::size_t{1} << 16);
    // Items are views into content, which the list keeps: a line costs a node and no copy.
    m_items.nodes.reserve(m_items.nodes.size() + content.size() / 32);
    textfile::ForEachLine(content, [&](std::string_view raw) {
        // An escaped "#" keeps the whole line as the item, backslash included.
        std::string_view item = textfile::TrimRight(
            textfile::SplitComment(textfile::Trim(raw), m_keepComments ? pending : discarded).data);
        if (item.empty()) {
            if (m_keepComments)
                pending.push_back('\n');
            return;
        }
        if (!AcceptEntry(item))
            return; // the comment block waits for the next accepted item
        if (m_keepComments) {
            if (!pending.empty()) {
                m_comments.SetAt(item, pending);
                commented[ItemSign(item)] = true;
            } else if (commented[ItemSign(item)]) {
                m_comments.RemoveKey(item); // a repeated item takes the empty block
            }
            pending.clear();
        }
        m_items.Link(item, 0);
    });
    if (m_keepComments && !pending.empty())
        m_comments.SetAt("#", pending);
}

platform::LargeString CStorableList::Serialize() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    textfile::CrlfText out;
    const bool anyComment = !m_comments.IsEmpty();
    m_items.ForEach([&](std::string_view item) {
        if (anyComment)
            if (auto comment = m_comments.FindView(item))
                out << *comment;
        out << item << '\n';
    });
    if (auto trailing = m_comments.FindView("#"))
        out << *trailing;
    return out.Take();
}

bool CStorableList::Save(bool makeBackup, std::string_view backupBase, std::string_view moment) {
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
