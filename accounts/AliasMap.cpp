#include "accounts/AliasMap.h"

#include "Common/Ansi.h"
#include "accounts/DomainList.h"
#include "accounts/UserList.h"

#include <mutex>

namespace {

bool HasWildcard(std::string_view text) {
    return text.find_first_of("*?") != std::string_view::npos;
}

} // namespace

bool MatchPattern(std::string_view address, std::string_view pattern) {
    if (HasWildcard(address))
        return false;
    // A "*" tries the rest of the pattern at every later place of the address. Retrying only
    // from the latest "*" is enough to find every match there is, and keeps the work at most
    // the product of the two lengths however many stars the pattern holds.
    std::size_t p = 0;
    std::size_t a = 0;
    std::size_t star = std::string_view::npos;
    std::size_t starAddress = 0;
    while (a < address.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            starAddress = a;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || ansi::ToLower(pattern[p]) == ansi::ToLower(address[a]))) {
            ++p;
            ++a;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            a = ++starAddress;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

CAliasMap::CAliasMap(const CDomainList& localDomains, const CUserList& users)
    : m_localDomains(localDomains), m_users(users) {}

bool CAliasMap::BeforeParse() {
    m_accepted = 0;
    m_dropped = 0;
    m_loadedBareKeys.clear();
    m_lastDomainKnown = false;
    return true;
}

void CAliasMap::AfterLoad() {
    m_loadedBareKeys = {}; // only the load needs them
    CStorableMap::AfterLoad();
}

bool CAliasMap::AcceptEntry(std::string& key, std::string& target) {
    const bool accepted = Accept(key, target);
    ++(accepted ? m_accepted : m_dropped);
    // An accepted entry is stored as it stands now, replacing a value of the same key.
    if (accepted && key.find('@') == std::string::npos)
        m_loadedBareKeys.insert_or_assign(key, target);
    return accepted;
}

void CAliasMap::HintEntries(const LineHint& far, const LineHint& near) const {
    const auto account = [](std::string_view target) {
        return target.find('@') == std::string_view::npos ? target : std::string_view();
    };
    m_users.Prefetch(account(far.value), account(near.value));
}

bool CAliasMap::IsLocalWhileLoading(std::string_view key) {
    const std::string_view domain = key.substr(key.find('@') + 1);
    if (!m_lastDomainKnown || domain != m_lastDomain) {
        m_lastDomain.assign(domain);
        m_lastDomainLocal = m_localDomains.Contains(domain);
        m_lastDomainKnown = true;
    }
    return m_lastDomainLocal;
}

bool CAliasMap::Accept(std::string& key, std::string& target) {
    for (char& c : key)
        c = ansi::ToLower(c);
    // Addresses of domains that are not (or no longer) local, backup domains among them.
    if (m_domainFilter && key.find('@') != std::string::npos && !IsLocalWhileLoading(key))
        return false;
    if (ansi::EqualNoCase(key, target))
        return false;
    if (target.find('@') != std::string::npos)
        return true; // a forwarding
    // An alias of an alias loaded before: store the final target. One level only, so the
    // result depends on the order of the lines. The target holds no "@", so only a key
    // without one can equal it; those are few, and kept aside while the file loads, so that
    // the many targets that are plain accounts are not looked for in the whole map.
    auto resolved = m_loadedBareKeys.find(target);
    if (resolved != m_loadedBareKeys.end())
        target = resolved->second;
    return (!m_accountFilter || m_users.Contains(target)) && !ansi::EqualNoCase(target, key);
}

// ---------------------------------------------------------------------------------------------
// Look-ups

namespace {

using accounts_detail::CNoCaseIndex;

// The text after the last "@" of a key, where the domain of a wildcard key starts.
std::string_view AfterLastAt(std::string_view key) {
    return key.substr(key.rfind('@') + 1);
}

// The text after the first "@", the domain the page files a key under.
std::string_view AfterFirstAt(std::string_view key) {
    return key.substr(key.find('@') + 1);
}

} // namespace

const CAliasMap::ResolveIndex& CAliasMap::Resolution() const {
    ResolveIndex& index = m_resolve;
    if (index.built && index.version == GetVersion())
        return index;
    auto keyOf = [this](std::uint32_t n) -> std::string_view { return EntryKey(n); };
    auto tailDomain = [this](std::uint32_t n) { return AfterLastAt(EntryKey(n)); };
    index.plain.Clear(GetCount());
    index.byDomain.Clear();
    index.general.clear();
    const std::size_t slots = EntrySlots();
    for (std::uint32_t n = 0; n < slots; ++n) {
        if (!EntryIsLive(n))
            continue;
        const std::string_view key = EntryKey(n);
        const std::size_t lastWildcard = key.find_last_of("*?");
        bool added = false;
        if (lastWildcard == std::string::npos) {
            index.plain.FindOrAdd(key, n, keyOf, added); // the first of equal keys stays
            continue;
        }
        const std::size_t at = key.rfind('@');
        if (at == std::string::npos || at < lastWildcard) {
            index.general.push_back(n);
            continue;
        }
        index.byDomain.Add(AfterLastAt(key), n, tailDomain);
    }
    index.version = GetVersion();
    index.built = true;
    return index;
}

bool CAliasMap::ResolveAddress(std::string_view address, std::string& target,
                               std::string* key) const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (auto exact = FindView(address)) {
        target = *exact;
        if (key)
            key->assign(address);
        return true;
    }
    if (HasWildcard(address))
        return false; // MatchPattern would refuse every key
    const ResolveIndex& index = Resolution();

    // Of the keys that match, the longest wins, and of equally long ones the first in the
    // map's order: exactly what a walk over all entries in order finds when a later entry
    // replaces an earlier one only with a strictly longer key.
    std::uint32_t best = CNoCaseIndex::kNone;
    std::size_t bestLength = 0;
    auto consider = [&](std::uint32_t n) {
        const std::string_view key = EntryKey(n);
        if (best != CNoCaseIndex::kNone &&
            (key.size() < bestLength || (key.size() == bestLength && n > best)))
            return;
        if (MatchPattern(address, key)) {
            best = n;
            bestLength = key.size();
        }
    };
    const std::uint32_t plain = index.plain.Find(
        address, [this](std::uint32_t n) -> std::string_view { return EntryKey(n); });
    if (plain != CNoCaseIndex::kNone)
        consider(plain);
    if (address.find('@') != std::string_view::npos) {
        const auto* keys = index.byDomain.Find(
            AfterLastAt(address), [this](std::uint32_t n) { return AfterLastAt(EntryKey(n)); });
        if (keys)
            for (std::uint32_t n : *keys)
                consider(n);
    }
    for (std::uint32_t n : index.general)
        consider(n);
    if (best == CNoCaseIndex::kNone)
        return false;
    target = EntryValue(best);
    if (key)
        key->assign(EntryKey(best));
    return true;
}

const CAliasMap::TargetIndex& CAliasMap::Targets() const {
    TargetIndex& index = m_targets;
    if (index.built && index.version == GetVersion())
        return index;
    enum { kFirstEntry, kHasAddress };
    index.targets.Clear();
    index.index.Clear(GetCount());
    auto textOf = [&index](std::uint32_t at) { return index.targets.Text(at); };
    const std::size_t slots = EntrySlots();
    for (std::uint32_t n = 0; n < slots; ++n) {
        if (!EntryIsLive(n))
            continue;
        const std::string_view target = EntryValue(n);
        bool added = false;
        const std::uint32_t at = index.index.FindOrAdd(target, index.targets.End(), textOf, added);
        if (added) {
            index.targets.Add(target);
            index.targets.SetWord(at, kFirstEntry, n);
        }
        if (EntryKey(n).find('@') != std::string::npos)
            index.targets.SetWord(at, kHasAddress, 1);
    }
    index.version = GetVersion();
    index.built = true;
    return index;
}

bool CAliasMap::HasDomainAddress(std::string_view account) const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const TargetIndex& index = Targets();
    const std::uint32_t at =
        index.index.Find(account, [&index](std::uint32_t a) { return index.targets.Text(a); });
    return at != CNoCaseIndex::kNone && index.targets.Word(at, 1) != 0;
}

std::vector<std::string> CAliasMap::AccountsWithoutDomainAddress(const CUserList& users) const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const TargetIndex& index = Targets();
    auto textOf = [&index](std::uint32_t at) { return index.targets.Text(at); };
    std::vector<std::string> without;
    // Each step of a look-up waits for memory the previous step named (slot, then record);
    // taking a batch through each step together lets those waits run side by side.
    constexpr std::size_t kBatch = 32;
    std::uint32_t tags[kBatch];
    std::uint32_t found[kBatch];
    users.ForEachBatch(kBatch, [&](std::span<const std::string_view> names) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            tags[i] = CNoCaseIndex::Tag(names[i]);
            index.index.Prefetch(tags[i]);
        }
        for (std::size_t i = 0; i < names.size(); ++i) {
            found[i] = index.index.Candidate(tags[i]);
            if (found[i] != CNoCaseIndex::kNone)
                index.targets.Prefetch(found[i]);
        }
        for (std::size_t i = 0; i < names.size(); ++i) {
            std::uint32_t at = found[i];
            // The first slot with the same tag may belong to another text: ask properly then.
            if (at != CNoCaseIndex::kNone &&
                !accounts_detail::EqualNoCase(index.targets.Text(at), names[i]))
                at = index.index.Find(names[i], tags[i], textOf);
            if (at == CNoCaseIndex::kNone || index.targets.Word(at, 1) == 0)
                without.emplace_back(names[i]);
        }
    });
    return without;
}

bool CAliasMap::FindAddressOf(std::string_view account, std::string& key) const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const TargetIndex& index = Targets();
    const std::uint32_t at =
        index.index.Find(account, [&index](std::uint32_t a) { return index.targets.Text(a); });
    if (at == CNoCaseIndex::kNone) {
        key.clear();
        return false;
    }
    key = EntryKey(index.targets.Word(at, 0));
    return true;
}

const CAliasMap::DomainIndex& CAliasMap::Domains() const {
    DomainIndex& index = m_domains;
    if (index.built && index.version == GetVersion())
        return index;
    auto keyDomain = [this](std::uint32_t n) { return AfterFirstAt(EntryKey(n)); };
    index.domains.Clear();
    index.withoutDomain.clear();
    const std::size_t slots = EntrySlots();
    for (std::uint32_t n = 0; n < slots; ++n) {
        if (!EntryIsLive(n))
            continue;
        const std::string_view key = EntryKey(n);
        const std::size_t at = key.find('@');
        if (at == std::string::npos) {
            index.withoutDomain.push_back(n);
            continue;
        }
        if (at == 0)
            continue; // shown nowhere
        index.domains.Add(AfterFirstAt(key), n, keyDomain);
    }
    index.version = GetVersion();
    index.built = true;
    return index;
}

std::vector<CAliasMap::Entry> CAliasMap::GetDomainEntries(std::string_view domain) const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    std::vector<Entry> entries;
    const bool current = m_domains.built && m_domains.version == GetVersion();
    if (!current && !(m_domains.scanned && m_domains.scannedVersion == GetVersion())) {
        m_domains.scanned = true;
        m_domains.scannedVersion = GetVersion();
        const std::size_t slots = EntrySlots();
        for (std::uint32_t n = 0; n < slots; ++n) {
            if (!EntryIsLive(n))
                continue;
            const std::string_view key = EntryKey(n);
            const std::size_t at = key.find('@');
            if (at != std::string::npos && at > 0 &&
                accounts_detail::EqualNoCase(AfterFirstAt(key), domain))
                entries.emplace_back(key, EntryValue(n));
        }
        return entries;
    }
    const DomainIndex& index = Domains();
    const auto* keys =
        index.domains.Find(domain, [this](std::uint32_t n) { return AfterFirstAt(EntryKey(n)); });
    if (keys) {
        entries.reserve(keys->size());
        for (std::uint32_t n : *keys)
            entries.emplace_back(EntryKey(n), EntryValue(n));
    }
    return entries;
}

std::vector<CAliasMap::Entry> CAliasMap::GetEntriesWithoutDomain() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    std::vector<Entry> entries;
    const DomainIndex& index = Domains();
    entries.reserve(index.withoutDomain.size());
    for (std::uint32_t n : index.withoutDomain)
        entries.emplace_back(EntryKey(n), EntryValue(n));
    return entries;
}
