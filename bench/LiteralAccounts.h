// The account store's look-ups done the straightforward way, step by step as their rules read:
// lists walked from the head, every entry of the alias map visited for every question. Kept for
// the benchmarks only, as the yardstick the indexed versions are measured against.
#pragma once

#include "Common/Ansi.h"
#include "Common/FileChangeMonitor.h"
#include "Common/MapEx.h"
#include "Common/StringList.h"

#include <string>
#include <string_view>

namespace literal {

// The account names in a plain list; Contains walks it.
class CUserList {
public:
    void Refresh(const std::string& spool) {
        m_names.RemoveAll();
        CDirectoryScan scan(PathJoin(spool, "*.*"));
        while (scan.Next()) {
            if (!scan.IsDirectory() || scan.GetName().starts_with('.'))
                continue;
            m_names.AddTail(ansi::ToLower(scan.GetName()));
        }
    }
    bool Contains(std::string_view name) const { return static_cast<bool>(m_names.Find(name)); }
    const CStringListEx& Names() const { return m_names; }

private:
    CStringListEx m_names;
};

// A domain list whose Find compares every line from the head.
class CDomainList : public CStorableList {
public:
    POSITION Find(std::string_view domain, POSITION startAfter = POSITION()) const override {
        POSITION position = startAfter;
        if (position)
            GetNext(position);
        else
            position = GetHeadPosition();
        while (position) {
            POSITION here = position;
            if (ansi::EqualNoCase(GetNext(position), domain))
                return here;
        }
        return POSITION();
    }
};

inline bool IsLocalAddress(std::string_view address, const CDomainList& domains) {
    const std::size_t at = address.find('@');
    if (at == std::string_view::npos)
        return !address.empty();
    return static_cast<bool>(domains.Find(address.substr(at + 1)));
}

// At a "*" the rest of the pattern is tried at every later place of the address, recursively.
inline bool MatchRest(std::string_view address, std::string_view pattern) {
    for (std::size_t p = 0, a = 0;; ++p, ++a) {
        if (p == pattern.size())
            return a == address.size();
        if (pattern[p] == '*') {
            for (std::size_t from = a; from <= address.size(); ++from)
                if (MatchRest(address.substr(from), pattern.substr(p + 1)))
                    return true;
            return false;
        }
        if (a == address.size())
            return false;
        if (pattern[p] != '?' && ansi::ToLower(pattern[p]) != ansi::ToLower(address[a]))
            return false;
    }
}

inline bool MatchPattern(std::string_view address, std::string_view pattern) {
    if (address.find_first_of("*?") != std::string_view::npos)
        return false;
    return MatchRest(address, pattern);
}

class CAliasMap : public CStorableMap {
public:
    CAliasMap(const CDomainList& domains, const CUserList& users)
        : m_domains(domains), m_users(users) {}

    bool ResolveAddress(std::string_view address, std::string& target) const {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (Lookup(address, target))
            return true;
        bool found = false;
        std::size_t longest = 0;
        std::string key, value;
        for (POSITION position = GetStartPosition(); position;) {
            GetNextAssoc(position, key, value);
            if (MatchPattern(address, key) && (!found || key.size() > longest)) {
                found = true;
                longest = key.size();
                target = value;
            }
        }
        return found;
    }

    bool HasDomainAddress(std::string_view account) const {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        std::string key, value;
        for (POSITION position = GetStartPosition(); position;) {
            GetNextAssoc(position, key, value);
            if (ansi::EqualNoCase(value, account) && key.find('@') != std::string::npos)
                return true;
        }
        return false;
    }

    // The rows the page shows for one domain: every entry visited.
    std::size_t CountDomainEntries(std::string_view domain) const {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        std::size_t rows = 0;
        std::string key, value;
        for (POSITION position = GetStartPosition(); position;) {
            GetNextAssoc(position, key, value);
            const std::size_t at = key.find('@');
            if (at != std::string::npos && at > 0 &&
                ansi::EqualNoCase(std::string_view(key).substr(at + 1), domain))
                ++rows;
        }
        return rows;
    }

protected:
    bool AcceptEntry(std::string& key, std::string& target) override {
        key = ansi::ToLower(key);
        if (key.find('@') != std::string::npos && !IsLocalAddress(key, m_domains))
            return false;
        if (ansi::EqualNoCase(key, target))
            return false;
        if (target.find('@') != std::string::npos)
            return true;
        std::string resolved;
        if (Lookup(target, resolved))
            target = resolved;
        return m_users.Contains(target) && !ansi::EqualNoCase(target, key);
    }

private:
    const CDomainList& m_domains;
    const CUserList& m_users;
};

} // namespace literal
