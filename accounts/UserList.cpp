#include "accounts/UserList.h"

#include "Common/Ansi.h"
#include "accounts/AccountStore.h"
#include "platform/DefaultPaths.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <array>
#include <utility>

CUserList::CUserList(const CConfigMap* mdadConfig, std::unique_ptr<platform::DirectoryWatch> watch)
    : m_config(mdadConfig), m_monitor(std::move(watch)) {}

std::string CUserList::SpoolDir() const {
    return m_config ? SpoolDirectory(*m_config) : std::string(platform::kDefaultSpoolDir);
}

bool CUserList::Refresh() {
    return Refresh(SpoolDir());
}

bool CUserList::Refresh(const std::string& spool) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    // Sized for the accounts there were or, at the first look, for the folder's size at 32 bytes
    // an entry (about what the common file systems take for names like these), so that a
    // hundred thousand names are not rehashed and moved again and again. Only a guess: the
    // index still grows when it falls short.
    std::size_t expected = m_count;
    if (expected == 0) {
        if (const auto status = platform::StatPath(spool))
            expected = static_cast<std::size_t>(
                std::min<std::uint64_t>(status->size / 32, std::uint64_t{1} << 22));
    }
    m_names.Clear();
    m_names.Reserve(expected * 24);
    m_index.Clear(expected);
    m_count = 0;
    // The folder lists its names in no order of theirs, so every one lands on a slot of the
    // index far from the last. Each name's slot is fetched a few names before it is added, so
    // that the listing waits for memory once per few names instead of once per name.
    constexpr std::size_t kAhead = 8;
    std::array<std::string, kAhead> ahead; // lower-cased names, reused
    std::size_t taken = 0;
    std::size_t added = 0;
    CDirectoryScan scan(PathJoin(spool, "*.*"));
    while (scan.Next()) {
        if (!scan.IsDirectory() || !IsValidAccountName(scan.GetName()))
            continue;
        if (taken - added == kAhead) {
            AddLowered(ahead[added % kAhead]);
            ++added;
        }
        std::string& name = ahead[taken % kAhead];
        Lower(scan.GetName(), name);
        m_index.Prefetch(accounts_detail::CExactIndex::Tag(name));
        ++taken;
    }
    for (; added < taken; ++added)
        AddLowered(ahead[added % kAhead]);
    // An unreadable spool is not an empty one: the caller must not go on as if there were no
    // accounts (the alias filter would drop every alias of an account).
    m_lastRefreshFailed = scan.IsUnreadable();
    return !m_lastRefreshFailed;
}

void CUserList::AddName(std::string_view folderName) {
    if (!IsValidAccountName(folderName))
        return;
    Lower(folderName, m_lowered);
    AddLowered(m_lowered);
}

// "." and ".." and hidden folders begin with "."; names no account operation would accept (a
// backslash, a control character) are left out as well, so that whatever the list shows can
// be opened, changed and deleted. Two folders that differ only in case are one account.
void CUserList::Lower(std::string_view folderName, std::string& lowered) {
    lowered.assign(folderName);
    for (char& c : lowered)
        c = ansi::ToLower(c);
}

void CUserList::AddLowered(std::string_view name) {
    bool added = false;
    m_index.FindOrAdd(
        name, m_names.End(), [this](std::uint32_t offset) { return m_names.Text(offset); },
        added);
    if (added) {
        m_names.Add(name);
        ++m_count;
    }
}

bool CUserList::Update(bool* changed) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const std::string spool = SpoolDir();
    if (changed)
        *changed = false;
    const auto readAll = [&] {
        // A watch that is not armed on this spool (never armed, the configured spool changed,
        // the folder went and came back) is armed before the folder is read, so that nothing
        // happening during the reading is missed. Only on a folder that is there: arming logs
        // its failures, and a missing spool would be logged at every look.
        if (!m_monitor.IsArmed() || spool != m_watchedSpool || m_watchLost) {
            const auto status = platform::StatPath(spool);
            if (status && status->isDirectory)
                (void)StartWatch(spool);
            m_watchLost = false;
        }
        if (changed)
            *changed = true;
        // A spool that cannot be read has taken its watch along, if it had one.
        if (!Refresh(spool))
            m_watchLost = true;
        return !m_lastRefreshFailed;
    };
    if (!m_monitor.IsArmed() || spool != m_watchedSpool || m_lastRefreshFailed)
        return readAll();
    std::vector<platform::DirectoryChange> changes;
    if (!m_monitor.TakeChanges(changes))
        return true;
    using Kind = platform::DirectoryChange::Kind;
    // A folder that went, or anything the watch cannot name, needs a look at the spool; what
    // the watch cannot name may be the end of the watch itself (the spool was removed).
    bool lookAtAll = false;
    for (const platform::DirectoryChange& change : changes) {
        m_watchLost = m_watchLost || change.kind == Kind::Other;
        lookAtAll = lookAtAll || change.kind == Kind::Other ||
                    (change.kind == Kind::Removed && change.isDirectory);
    }
    if (lookAtAll)
        return readAll();
    for (const platform::DirectoryChange& change : changes) {
        // A folder that appeared and is gone again by now, or that turned into something
        // else, is found by looking; one that is there is added. A link to a folder is no
        // account, as in Refresh.
        if (change.kind != Kind::Added || !change.isDirectory ||
            platform::QueryPathKind(PathJoin(spool, change.name)) != platform::PathKind::Directory)
            continue;
        AddName(change.name);
        if (changed)
            *changed = true;
    }
    return true;
}

bool CUserList::Contains(std::string_view name) const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_index.Find(name, [this](std::uint32_t offset) { return m_names.Text(offset); }) !=
           accounts_detail::CExactIndex::kNone;
}

void CUserList::Prefetch(std::string_view later, std::string_view soon) const {
    using accounts_detail::CExactIndex;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!later.empty())
        m_index.Prefetch(CExactIndex::Tag(later));
    if (soon.empty())
        return;
    const std::uint32_t candidate = m_index.Candidate(CExactIndex::Tag(soon));
    if (candidate != CExactIndex::kNone)
        m_names.Prefetch(candidate);
}

std::size_t CUserList::GetCount() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_count;
}

void CUserList::ForEach(const std::function<void(std::string_view)>& visit) const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    for (std::uint32_t at = m_names.First(); at != m_names.End(); at = m_names.Next(at))
        visit(m_names.Text(at));
}

void CUserList::ForEachBatch(
    std::size_t batch, const std::function<void(std::span<const std::string_view>)>& visit) const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (batch == 0)
        batch = 1;
    std::vector<std::string_view> names;
    names.reserve(batch);
    for (std::uint32_t at = m_names.First(); at != m_names.End(); at = m_names.Next(at)) {
        names.push_back(m_names.Text(at));
        if (names.size() == batch) {
            visit(names);
            names.clear();
        }
    }
    if (!names.empty())
        visit(names);
}

std::vector<std::string> CUserList::GetNames() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    std::vector<std::string> names;
    names.reserve(m_count);
    for (std::uint32_t at = m_names.First(); at != m_names.End(); at = m_names.Next(at))
        names.emplace_back(m_names.Text(at));
    return names;
}

bool CUserList::StartWatch() {
    return StartWatch(SpoolDir());
}

bool CUserList::StartWatch(const std::string& spool) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_monitor.Stop();
    const bool armed = m_monitor.Start(spool, kWatchFilter, false);
    m_watchedSpool = armed ? spool : std::string();
    return armed;
}

bool CUserList::IsWatching() const {
    return m_monitor.IsArmed();
}



bool CUserList::IsRelevantChange(std::string_view changedPath) {
    // The suite's own separator is "\"; this platform's may appear as well.
    const std::size_t separator = changedPath.find_first_of("\\/");
    if (separator == std::string_view::npos)
        return false;
    return ansi::EqualNoCase(changedPath.substr(separator + 1), "password");
}
