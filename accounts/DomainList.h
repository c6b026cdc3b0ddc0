// The domain lists: "domains" (the local domains) and "backupdomains" (the domains this server
// is only secondary mail exchanger for). One domain per line, looked up without regard to case.
#pragma once

#include "Common/StringList.h"
#include "accounts/TextIndex.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A list file of domains with a case-insensitive Find and the sorted insertion of
// CSortedStringList.
//
// Find is asked once per line of "aliases" when the alias map loads, against lists of
// thousands of domains, so it answers from a hash index of the folded names instead of walking
// the list. The index is rebuilt on the first Find after a change. The base list's operations
// are not virtual, so this class puts its own in front of every operation that changes the
// list (items are read only, handed out as views); a load is seen through the BeforeParse
// and AfterLoad hooks. As a last guard the index is also rebuilt whenever the item count no
// longer agrees with it. Change the list through this class, not through a reference to one of
// its bases: such a change keeping the count would go unseen.
class CDomainList : public CStorableList {
public:
    CDomainList() = default;

    // The position of the first domain, from the head (or after startAfter), equal to domain
    // compared without regard to case; none when there is none.
    POSITION Find(std::string_view domain, POSITION startAfter = POSITION()) const override;
    // Whether Find would find domain; cheaper, since it needs no position.
    bool Contains(std::string_view domain) const;

    // Inserts before the first item that compares greater byte-wise; nothing when an equal one
    // comes first.
    void InsertSorted(std::string_view item);

    // Every operation of the base lists that can change the list, so that the index follows.
    POSITION AddHead(std::string_view item);
    POSITION AddTail(std::string_view item);
    void AddHead(const CStringListEx& other);
    void AddTail(const CStringListEx& other);
    std::string RemoveHead();
    std::string RemoveTail();
    void RemoveAll();
    void SetAt(POSITION position, std::string_view item);
    void RemoveAt(POSITION position);
    POSITION InsertBefore(POSITION position, std::string_view item);
    POSITION InsertAfter(POSITION position, std::string_view item);
    void AddTokens(std::string_view text, std::string_view delimiters);

protected:
    bool BeforeParse() override;
    void AfterLoad() override;

private:
    void Invalidate() { m_indexValid = false; }
    void RebuildIndexIfStale() const;

    // Each distinct domain (case-insensitive) once, copied, with the number of its first
    // position from the head (word 0). Copies: an item changed behind the index's back must
    // not leave it pointing at freed text.
    mutable accounts_detail::CPackedTexts<1> m_domains;
    mutable accounts_detail::CNoCaseIndex m_index; // domain -> the offset of its record
    mutable std::vector<POSITION> m_positions;
    mutable bool m_indexValid = false;
    mutable std::size_t m_indexedCount = 0;
};

// Whether address belongs to this server: with an "@", when the text after the first "@" is a
// domain of localDomains (the "domains" list; backup domains do not count); without one, when
// it is not empty.
bool IsLocalAddress(std::string_view address, const CDomainList& localDomains);
