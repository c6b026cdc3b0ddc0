#include "accounts/UserList.h"

#include "Common/Ansi.h"
#include "accounts/AccountStore.h"
#include "platform/DefaultPaths.h"

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
    m_names.Clear();
    m_index.Clear(m_count);
    m_count = 0;
    auto nameOf = [this](std::uint32_t offset) { return m_names.Text(offset); };
    CDirectoryScan scan(PathJoin(spool, "*.*"));
    std::string name;
    while (scan.Next()) {
        // "." and ".." and hidden folders begin with "."; names no account operation would
        // accept (a backslash, a control character) are left out as well, so that whatever the
        // list shows can be opened, changed and deleted.
        if (!scan.IsDirectory() || !IsValidAccountName(scan.GetName()))
            continue;
        name = scan.GetName();
        for (char& c : name)
            c = ansi::ToLower(c);
        // Two folders that differ only in case are one account.
        bool added = false;
        m_index.FindOrAdd(name, m_names.End(), nameOf, added);
        if (added) {
            m_names.Add(name);
            ++m_count;
        }
    }
    // An unreadable spool is not an empty one: the caller must not go on as if there were no
    // accounts (the alias filter would drop every alias of an account).
    return !scan.IsUnreadable();
}

bool CUserList::Contains(std::string_view name) const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_index.Find(name, [this](std::uint32_t offset) { return m_names.Text(offset); }) !=
           accounts_detail::CExactIndex::kNone;
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
    return m_monitor.Start(spool, kWatchFilter, false);
}

bool CUserList::IsWatching() const {
    return m_monitor.IsArmed();
}

bool CUserList::TakeChanges() {
    return m_monitor.TakeChanges();
}

bool CUserList::IsRelevantChange(std::string_view changedPath) {
    // The suite's own separator is "\"; this platform's may appear as well.
    const std::size_t separator = changedPath.find_first_of("\\/");
    if (separator == std::string_view::npos)
        return false;
    return ansi::EqualNoCase(changedPath.substr(separator + 1), "password");
}
