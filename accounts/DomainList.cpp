#include "accounts/DomainList.h"

#include "Common/Ansi.h"

CDomainList::POSITION CDomainList::Find(std::string_view domain, POSITION startAfter) const {
    COptionalGuard g(m_lock);
    if (startAfter) {
        // A continued search is rare (only to find repeats); walk on from the given place.
        POSITION position = startAfter;
        CStorableList::GetNext(position);
        while (position) {
            POSITION here = position;
            if (ansi::EqualNoCase(CStorableList::GetNext(position), domain))
                return here;
        }
        return POSITION();
    }
    RebuildIndexIfStale();
    const std::uint32_t at =
        m_index.Find(domain, [this](std::uint32_t a) { return m_domains.Text(a); });
    return at == accounts_detail::CNoCaseIndex::kNone ? POSITION()
                                                      : m_positions[m_domains.Word(at, 0)];
}

bool CDomainList::Contains(std::string_view domain) const {
    COptionalGuard g(m_lock);
    RebuildIndexIfStale();
    return m_index.Find(domain, [this](std::uint32_t a) { return m_domains.Text(a); }) !=
           accounts_detail::CNoCaseIndex::kNone;
}

void CDomainList::RebuildIndexIfStale() const {
    if (m_indexValid && m_indexedCount == GetCount())
        return;
    m_domains.Clear();
    m_positions.clear();
    m_index.Clear(GetCount());
    auto textOf = [this](std::uint32_t a) { return m_domains.Text(a); };
    for (POSITION position = GetHeadPosition(); position;) {
        POSITION here = position;
        const std::string_view item = CStorableList::GetNext(position);
        bool added = false;
        const std::uint32_t at = m_index.FindOrAdd(item, m_domains.End(), textOf, added);
        if (added) { // the first occurrence from the head wins
            m_domains.Add(item);
            m_domains.SetWord(at, 0, static_cast<std::uint32_t>(m_positions.size()));
            m_positions.push_back(here);
        }
    }
    m_indexedCount = GetCount();
    m_indexValid = true;
}

bool CDomainList::BeforeParse() {
    Invalidate(); // the load has just emptied the list and fills it without our operations
    return CStorableList::BeforeParse();
}

void CDomainList::AfterLoad() {
    Invalidate();
    CStorableList::AfterLoad();
}

void CDomainList::InsertSorted(std::string_view item) {
    COptionalGuard g(m_lock);
    InsertSortedImpl(item);
    Invalidate();
}

CDomainList::POSITION CDomainList::AddHead(std::string_view item) {
    COptionalGuard g(m_lock);
    Invalidate();
    return CStorableList::AddHead(item);
}

CDomainList::POSITION CDomainList::AddTail(std::string_view item) {
    COptionalGuard g(m_lock);
    Invalidate();
    return CStorableList::AddTail(item);
}

void CDomainList::AddHead(const CStringListEx& other) {
    COptionalGuard g(m_lock);
    Invalidate();
    CStorableList::AddHead(other);
}

void CDomainList::AddTail(const CStringListEx& other) {
    COptionalGuard g(m_lock);
    Invalidate();
    CStorableList::AddTail(other);
}

std::string CDomainList::RemoveHead() {
    COptionalGuard g(m_lock);
    Invalidate();
    return CStorableList::RemoveHead();
}

std::string CDomainList::RemoveTail() {
    COptionalGuard g(m_lock);
    Invalidate();
    return CStorableList::RemoveTail();
}

void CDomainList::RemoveAll() {
    COptionalGuard g(m_lock);
    Invalidate();
    CStorableList::RemoveAll();
}

void CDomainList::SetAt(POSITION position, std::string_view item) {
    COptionalGuard g(m_lock);
    Invalidate();
    CStorableList::SetAt(position, item);
}

void CDomainList::RemoveAt(POSITION position) {
    COptionalGuard g(m_lock);
    Invalidate();
    CStorableList::RemoveAt(position);
}

CDomainList::POSITION CDomainList::InsertBefore(POSITION position, std::string_view item) {
    COptionalGuard g(m_lock);
    Invalidate();
    return CStorableList::InsertBefore(position, item);
}

CDomainList::POSITION CDomainList::InsertAfter(POSITION position, std::string_view item) {
    COptionalGuard g(m_lock);
    Invalidate();
    return CStorableList::InsertAfter(position, item);
}

void CDomainList::AddTokens(std::string_view text, std::string_view delimiters) {
    COptionalGuard g(m_lock);
    Invalidate();
    CStorableList::AddTokens(text, delimiters);
}

bool IsLocalAddress(std::string_view address, const CDomainList& localDomains) {
    const std::size_t at = address.find('@');
    if (at == std::string_view::npos)
        return !address.empty();
    return localDomains.Contains(address.substr(at + 1));
}
