// The alias map ("aliases"): which address reaches which account, or is forwarded where.
#pragma once

#include "Common/MapEx.h"
#include "accounts/TextIndex.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class CDomainList;
class CUserList;

// Wildcard match of an address against an alias key: "?" stands for any one character, "*"
// for any run of characters (also none), every other character must equal the address's
// after lower-casing both. An address that itself holds "*" or "?" matches nothing.
bool MatchPattern(std::string_view address, std::string_view pattern);

// The "aliases" file: key -> target. A key is an address (local part "@" domain; the local
// part may hold the wildcards "*" and "?") or a bare name, in lower case; a target is an
// account name, or a forward address when it holds "@".
//
// The load keeps only what still makes sense (AcceptEntry): addresses of local domains whose
// target is a forward address or an account, with one level of alias-to-alias resolution. It
// therefore needs the "domains" list and the user list filled first; both are given here and
// must outlive the map.
//
// The questions the pages ask are answered from indexes that are built on first use and
// rebuilt when the map has changed since (GetVersion), so that neither a load nor an edit pays
// for them: exact keys by the map's own hash, the wildcard keys grouped by the domain they
// require, the targets (for HasDomainAddress and FindAddressOf), and the keys by domain for
// the list of one domain. Each is built under the map's lock. Change the map with SetAt,
// RemoveKey and the like: a value written later through the reference that operator[] returns
// reaches the indexes only with the next change.
class CAliasMap : public CStorableMap {
public:
    using Entry = std::pair<std::string, std::string>; // key, target

    CAliasMap(const CDomainList& localDomains, const CUserList& users);

    // The target of address: an exact key first; otherwise the key that matches address by
    // MatchPattern and is longest (of equally long ones the first in the map's order). False
    // when nothing matches. key, when given, receives the key that decided.
    bool ResolveAddress(std::string_view address, std::string& target,
                        std::string* key = nullptr) const;

    // Whether an entry with a key holding "@" has account as its target (case-insensitive):
    // the account is reached through an address.
    bool HasDomainAddress(std::string_view account) const;
    // The accounts of users for which HasDomainAddress is false, in the user list's order:
    // the accounts the root of the domains page lists. All accounts are looked up in one pass,
    // several at a time, so that the memory accesses of the look-ups overlap.
    std::vector<std::string> AccountsWithoutDomainAddress(const CUserList& users) const;

    // The key of the first entry (in the map's order) whose target is account
    // (case-insensitive); false, and key emptied, when there is none.
    bool FindAddressOf(std::string_view account, std::string& key) const;

    // The entries shown for one domain, in the map's order: those whose key has its first "@"
    // after at least one character, followed by domain (case-insensitive).
    std::vector<Entry> GetDomainEntries(std::string_view domain) const;
    // The domain-independent entries, in the map's order: keys without "@".
    std::vector<Entry> GetEntriesWithoutDomain() const;

    // Whether the load drops addresses of domains that are not local. Only a "domains" list that
    // was read and names at least one domain can tell which are not: with a list that failed
    // to load, or holds nothing, every address would go, and the next save would write
    // "aliases" without them. On by default; the list's owner switches it per load.
    void SetDomainFilter(bool on) { m_domainFilter = on; }
    bool DomainFilter() const { return m_domainFilter; }
    // Whether the load drops entries whose target names no account of the user list. Only a
    // list that was built can tell: without the spool every account would seem gone, and the
    // next save would write "aliases" without a single mailbox. On by default; off, the map is
    // as the file says (and its owner should not write it back: what it holds was never
    // checked).
    void SetAccountFilter(bool on) { m_accountFilter = on; }
    bool AccountFilter() const { return m_accountFilter; }

    // What the last load kept and dropped.
    int GetAcceptedCount() const { return m_accepted; }
    int GetDroppedCount() const { return m_dropped; }

protected:
    bool AcceptEntry(std::string& key, std::string& target) override;
    // A target that names an account is looked up among the accounts (a hundred thousand on a
    // large installation) for every line: those look-ups are announced ahead.
    void HintEntries(const LineHint& far, const LineHint& near) const override;
    bool BeforeParse() override;
    void AfterLoad() override;

private:
    bool Accept(std::string& key, std::string& target);
    // IsLocalAddress for a key with "@" (in lower case) while the file loads.
    bool IsLocalWhileLoading(std::string_view key);

    // Entry numbers grouped by the domain of their key, compared without regard to case.
    // domainOf gives an entry's domain and must be the same rule for adding and finding.
    struct DomainGroups {
        accounts_detail::CNoCaseIndex index; // domain -> its group
        std::vector<std::vector<std::uint32_t>> groups;

        void Clear() {
            index.Clear(64);
            groups.clear();
        }
        template <class DomainOf>
        void Add(std::string_view domain, std::uint32_t entry, DomainOf domainOf) {
            bool added = false;
            const auto next = static_cast<std::uint32_t>(groups.size());
            const std::uint32_t group = index.FindOrAdd(
                domain, next, [&](std::uint32_t g) { return domainOf(groups[g].front()); }, added);
            if (added)
                groups.emplace_back();
            groups[group].push_back(entry);
        }
        template <class DomainOf>
        const std::vector<std::uint32_t>* Find(std::string_view domain, DomainOf domainOf) const {
            const std::uint32_t group =
                index.Find(domain, [&](std::uint32_t g) { return domainOf(groups[g].front()); });
            return group == accounts_detail::CNoCaseIndex::kNone ? nullptr : &groups[group];
        }
    };

    struct ResolveIndex {
        std::uint64_t version = 0;
        bool built = false;
        // Keys without wildcards -> the first of them in the map's order (case-insensitive).
        // Such a key matches an address only by being equal to it after lower-casing.
        accounts_detail::CNoCaseIndex plain;
        // Wildcard keys whose fixed tail (the text after the last wildcard) holds "@": such a
        // key can only match an address whose text after its last "@" equals the tail's. By
        // that domain -> its keys.
        DomainGroups byDomain;
        // Every other wildcard key ("*", "postmaster@*", ...), tried for every address.
        std::vector<std::uint32_t> general;
    };
    struct TargetIndex {
        std::uint64_t version = 0;
        bool built = false;
        // Each distinct target (case-insensitive) once, packed with the number of the first
        // entry that has it (word 0) and whether some key with "@" has it (word 1): the domains
        // page asks for every account in turn, and a look-up then touches one slot and one
        // record instead of an entry of the map and the text it points to.
        accounts_detail::CPackedTexts<2> targets;
        accounts_detail::CNoCaseIndex index; // target -> the offset of its record
    };
    struct DomainIndex {
        std::uint64_t version = 0;
        bool built = false;
        // The version a single domain was last listed at without the index. After a change
        // the page lists the one domain it shows, and one pass over the entries is cheaper
        // than building the index; only a second listing at the same version builds it.
        std::uint64_t scannedVersion = 0;
        bool scanned = false;
        // The text after the first "@" (not at the start; case-insensitive) -> its keys.
        DomainGroups domains;
        std::vector<std::uint32_t> withoutDomain;
    };

    const ResolveIndex& Resolution() const;
    const TargetIndex& Targets() const;
    const DomainIndex& Domains() const;

    const CDomainList& m_localDomains;
    const CUserList& m_users;
    bool m_domainFilter = true;
    bool m_accountFilter = true;
    int m_accepted = 0;
    int m_dropped = 0;
    // While a load runs: the keys without "@" accepted so far, with their stored targets.
    std::unordered_map<std::string, std::string, accounts_detail::ExactHash, std::equal_to<>>
        m_loadedBareKeys;
    // While a load runs: the domain of the last key with "@" and whether it is local. A file
    // lists the addresses of a domain together, so the list is asked once per run of them
    // rather than once per line.
    std::string m_lastDomain;
    bool m_lastDomainLocal = false;
    bool m_lastDomainKnown = false;

    mutable ResolveIndex m_resolve;
    mutable TargetIndex m_targets;
    mutable DomainIndex m_domains;
};
