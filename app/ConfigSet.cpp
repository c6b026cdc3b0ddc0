#include "app/ConfigSet.h"

#include "Common/BackupFolder.h"
#include "platform/FileSystem.h"

std::array<CConfigSet::File, CConfigSet::kFileCount> CConfigSet::Files() {
    return {{
        {"smtpd.cfg", 104, 116, &smtpd, nullptr},
        {"pop3d.cfg", 105, 117, &pop3d, nullptr},
        {"imap4d.cfg", 170, 173, &imap4d, nullptr},
        {"syslogd.cfg", 126, 127, &syslogd, nullptr},
        {"mdad.cfg", 106, 118, &mdad, nullptr},
        {"domains", 107, 119, nullptr, &domains},
        {"aliases", 109, 121, &aliases, nullptr},
        {"smarthosts", 0, 169, &smarthosts, nullptr},
        {"backupdomains", 0, 125, nullptr, &backupDomains},
    }};
}

std::string NormalizePath(const std::string& path) {
    const char separator = platform::kPathSeparator;
    const std::string_view separators = platform::kPathSeparators;
    const bool absolute = !path.empty() && separators.find(path.front()) != std::string_view::npos;
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = path.find_first_of(separators, at);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(at, end - at);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..")
                parts.pop_back();
            else if (!absolute)
                parts.push_back(part);
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    std::string joined = absolute ? std::string(1, separator) : std::string();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            joined += separator;
        joined += parts[i];
    }
    return joined;
}

CConfigSet::SharedEntry& CConfigSet::Shared(const std::string& path) {
    const std::string key = NormalizePath(path);
    auto it = m_sharedLists.find(key);
    if (it == m_sharedLists.end()) {
        auto entry = std::make_unique<SharedEntry>();
        // A failed load leaves the list empty and bound, so that the first save creates the
        // file; the pages then seed it.
        const bool loaded = entry->list.Load(path);
        if (!loaded) {
            entry->list.RemoveAll();
            entry->unreadable = platform::StatPath(path).has_value();
        }
        entry->seedable = loaded ? entry->list.IsEmpty() : !entry->unreadable;
        it = m_sharedLists.emplace(key, std::move(entry)).first;
    }
    return *it->second;
}

CStorableList& CConfigSet::SharedList(const std::string& path) {
    return Shared(path).list;
}

void CConfigSet::SeedSharedList(const std::string& path, const CStringListEx& entries,
                                bool isDefault) {
    SharedEntry& entry = Shared(path);
    if (!entry.seedable || entries.IsEmpty())
        return;
    if (isDefault) {
        if (!entry.list.IsEmpty())
            return;
        entry.seededByDefault = true;
    } else if (entry.seededByDefault) {
        entry.list.RemoveAll();
        entry.seededByDefault = false;
    }
    const CStringListEx before(entry.list);
    for (auto position = entries.GetHeadPosition(); position;) {
        const std::string_view item = entries.GetNext(position);
        if (!before.Find(item))
            entry.list.AddTail(item);
    }
}

void CConfigSet::BeginListApply(const void* page) {
    if (std::find(m_applyRound.begin(), m_applyRound.end(), page) != m_applyRound.end()) {
        ++m_round;
        m_applyRound.clear();
    }
    m_applyRound.push_back(page);
}

CConfigSet::ListSave CConfigSet::SaveSharedList(const std::string& path,
                                                const std::string& backupBase) {
    SharedEntry& entry = Shared(path);
    if (entry.savedRound == m_round)
        return ListSave::AlreadySaved;
    entry.savedRound = m_round;
    entry.saved = false;
    if (entry.unreadable)
        return ListSave::KeptUnreadable;
    // The lists one apply writes are one moment of the backup history.
    if (m_momentRound != m_round) {
        const std::string folder =
            backupBase.substr(0, backupBase.find_last_of(platform::kPathSeparators));
        m_roundMoment = backupfolder::NewMoment(folder);
        m_momentRound = m_round;
    }
    entry.saved = entry.list.Save(true, backupBase, m_roundMoment);
    if (entry.saved)
        journal.Record(CJournal::Kind::ListWritten, path);
    return entry.saved ? ListSave::Saved : ListSave::Failed;
}

std::vector<std::pair<std::string, const CStorableList*>> CConfigSet::SharedLists() const {
    std::vector<std::pair<std::string, const CStorableList*>> lists;
    for (const auto& [key, entry] : m_sharedLists)
        if (entry->staged && !entry->unreadable)
            lists.emplace_back(entry->list.GetPath(), &entry->list);
    return lists;
}

bool CConfigSet::SharedListSaved(const std::string& path) {
    const SharedEntry& entry = Shared(path);
    return entry.savedRound == m_round && entry.saved;
}
