#include "Common/StringList.h"

#include "Common/TextFile.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

// ---------------------------------------------------------------------------------------------
// CStringListEx

CStringListEx& CStringListEx::operator=(const CStringListEx& other) {
    if (this != &other) {
        Storage copy = other.CopyItems();
        COptionalGuard g(m_lock);
        m_items.swap(copy);
    }
    return *this;
}

CStringListEx::Storage CStringListEx::CopyItems() const {
    COptionalGuard g(m_lock);
    return m_items;
}

std::size_t CStringListEx::GetCount() const {
    COptionalGuard g(m_lock);
    return m_items.size();
}

std::string& CStringListEx::GetHead() {
    COptionalGuard g(m_lock);
    return m_items.front();
}
const std::string& CStringListEx::GetHead() const {
    COptionalGuard g(m_lock);
    return m_items.front();
}
std::string& CStringListEx::GetTail() {
    COptionalGuard g(m_lock);
    return m_items.back();
}
const std::string& CStringListEx::GetTail() const {
    COptionalGuard g(m_lock);
    return m_items.back();
}

CStringListEx::POSITION CStringListEx::AddHead(std::string_view item) {
    COptionalGuard g(m_lock);
    return POSITION(m_items.emplace(m_items.begin(), item));
}

CStringListEx::POSITION CStringListEx::AddTail(std::string_view item) {
    COptionalGuard g(m_lock);
    return POSITION(m_items.emplace(m_items.end(), item));
}

void CStringListEx::AddHead(const CStringListEx& other) {
    Storage copy = other.CopyItems();
    COptionalGuard g(m_lock);
    m_items.splice(m_items.begin(), copy);
}

void CStringListEx::AddTail(const CStringListEx& other) {
    Storage copy = other.CopyItems();
    COptionalGuard g(m_lock);
    m_items.splice(m_items.end(), copy);
}

std::string CStringListEx::RemoveHead() {
    COptionalGuard g(m_lock);
    std::string item = std::move(m_items.front());
    m_items.pop_front();
    return item;
}

std::string CStringListEx::RemoveTail() {
    COptionalGuard g(m_lock);
    std::string item = std::move(m_items.back());
    m_items.pop_back();
    return item;
}

void CStringListEx::RemoveAll() {
    COptionalGuard g(m_lock);
    m_items.clear();
}

CStringListEx::POSITION CStringListEx::GetHeadPosition() const {
    COptionalGuard g(m_lock);
    auto& items = const_cast<Storage&>(m_items);
    return items.empty() ? POSITION() : POSITION(items.begin());
}

CStringListEx::POSITION CStringListEx::GetTailPosition() const {
    COptionalGuard g(m_lock);
    auto& items = const_cast<Storage&>(m_items);
    return items.empty() ? POSITION() : POSITION(std::prev(items.end()));
}

std::string& CStringListEx::GetNext(POSITION& position) {
    COptionalGuard g(m_lock);
    std::string& item = *position.m_it;
    auto next = std::next(position.m_it);
    position = next == m_items.end() ? POSITION() : POSITION(next);
    return item;
}

const std::string& CStringListEx::GetNext(POSITION& position) const {
    return const_cast<CStringListEx*>(this)->GetNext(position);
}

std::string& CStringListEx::GetPrev(POSITION& position) {
    COptionalGuard g(m_lock);
    std::string& item = *position.m_it;
    position = position.m_it == m_items.begin() ? POSITION() : POSITION(std::prev(position.m_it));
    return item;
}

const std::string& CStringListEx::GetPrev(POSITION& position) const {
    return const_cast<CStringListEx*>(this)->GetPrev(position);
}

std::string& CStringListEx::GetAt(POSITION position) {
    COptionalGuard g(m_lock);
    return *position.m_it;
}

const std::string& CStringListEx::GetAt(POSITION position) const {
    COptionalGuard g(m_lock);
    return *position.m_it;
}

void CStringListEx::SetAt(POSITION position, std::string_view item) {
    COptionalGuard g(m_lock);
    position.m_it->assign(item);
}

void CStringListEx::RemoveAt(POSITION position) {
    COptionalGuard g(m_lock);
    m_items.erase(position.m_it);
}

CStringListEx::POSITION CStringListEx::InsertBefore(POSITION position, std::string_view item) {
    COptionalGuard g(m_lock);
    auto at = position ? position.m_it : m_items.begin();
    return POSITION(m_items.emplace(at, item));
}

CStringListEx::POSITION CStringListEx::InsertAfter(POSITION position, std::string_view item) {
    COptionalGuard g(m_lock);
    auto at = position ? std::next(position.m_it) : m_items.end();
    return POSITION(m_items.emplace(at, item));
}

CStringListEx::POSITION CStringListEx::Find(std::string_view value, POSITION startAfter) const {
    COptionalGuard g(m_lock);
    auto& items = const_cast<Storage&>(m_items);
    for (auto it = startAfter ? std::next(startAfter.m_it) : items.begin(); it != items.end(); ++it)
        if (*it == value)
            return POSITION(it);
    return POSITION();
}

CStringListEx::POSITION CStringListEx::FindIndex(std::size_t index) const {
    COptionalGuard g(m_lock);
    if (index >= m_items.size())
        return POSITION();
    auto& items = const_cast<Storage&>(m_items);
    return POSITION(std::next(items.begin(), static_cast<std::ptrdiff_t>(index)));
}

void CStringListEx::AddTokens(std::string_view text, std::string_view delimiters) {
    COptionalGuard g(m_lock);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of(delimiters, start);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > start)
            m_items.emplace_back(textfile::Trim(text.substr(start, end - start)));
        start = end + 1;
    }
}

std::string CStringListEx::Join(std::string_view separator) const {
    COptionalGuard g(m_lock);
    std::string joined;
    for (const std::string& item : m_items) {
        if (&item != &m_items.front())
            joined.append(separator);
        joined.append(item);
    }
    return joined;
}

void CStringListEx::InsertSortedImpl(std::string_view item) {
    COptionalGuard g(m_lock);
    // Byte-wise on the 8-bit text: upper case sorts before lower case.
    auto it = m_items.begin();
    for (; it != m_items.end(); ++it) {
        int order = std::string_view(*it).compare(item);
        if (order == 0)
            return;
        if (order > 0)
            break;
    }
    m_items.emplace(it, item);
}

// ---------------------------------------------------------------------------------------------
// CStorableList

bool CStorableList::AcceptEntry(const std::string&) {
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
        platform::LargeString text;
        if (!m_file.ReadForLoad(text))
            return false;
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        m_items.clear();
        m_comments.RemoveAll();
        if (!BeforeParse())
            return false;
        Parse(text);
        if (!AfterParse())
            return false;
        AfterLoad();
        m_loaded = true;
        return true;
    });
}

namespace {

// A rough sign of an item (from its length and its last bytes), for the filter below.
std::size_t ItemSign(std::string_view item) {
    std::uint64_t tail = 0;
    const std::size_t n = std::min<std::size_t>(item.size(), sizeof tail);
    std::memcpy(&tail, item.data() + item.size() - n, n);
    return static_cast<std::size_t>(((tail ^ item.size()) * 0x9E3779B97F4A7C15ull) >> 48);
}

} // namespace

void CStorableList::Parse(std::string_view content) {
    std::string pending;
    std::string discarded;
    std::string line; // reused from line to line
    // The signs of the items that were given a comment block. Only such an item can have one to
    // lose when it stands again without one, so most items need no look-up in the comments.
    std::vector<bool> commented(std::size_t{1} << 16);
    textfile::ForEachLine(content, [&](std::string_view raw) {
        // An escaped "#" keeps the whole line as the item, backslash included.
        std::string_view item = textfile::TrimRight(
            textfile::SplitComment(textfile::Trim(raw), m_keepComments ? pending : discarded).data);
        if (item.empty()) {
            if (m_keepComments)
                pending.push_back('\n');
            return;
        }
        line.assign(item);
        if (!AcceptEntry(line))
            return; // the comment block waits for the next accepted item
        if (m_keepComments) {
            if (!pending.empty()) {
                m_comments.SetAt(line, pending);
                commented[ItemSign(line)] = true;
            } else if (commented[ItemSign(line)]) {
                m_comments.RemoveKey(line); // a repeated item takes the empty block
            }
            pending.clear();
        }
        m_items.push_back(line);
    });
    if (m_keepComments && !pending.empty())
        m_comments.SetAt("#", pending);
}

platform::LargeString CStorableList::Serialize() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    textfile::CrlfText out;
    for (const std::string& item : m_items) {
        if (auto comment = m_comments.FindView(item))
            out << *comment;
        out << item << '\n';
    }
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
