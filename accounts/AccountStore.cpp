#include "accounts/AccountStore.h"

#include "Common/Ansi.h"
#include "Common/FileChangeMonitor.h"
#include "accounts/Password.h"
#include "platform/DefaultPaths.h"
#include "platform/DirectoryList.h"
#include "platform/FileSystem.h"

#include <vector>

namespace {

constexpr const char* kPasswordFile = "password";
constexpr const char* kConfigFile = "config";
// A new password file is for the services' eyes only.
constexpr unsigned kPasswordFileMode = 0600;

// directory + separator + name, for names that are entries of directory. Unlike PathJoin it
// has no rule that makes a name complete by itself: an entry called "c:x" or "/x" must still
// land inside directory.
std::string ChildPath(std::string_view directory, std::string_view name) {
    std::string path(directory);
    if (!path.empty() &&
        std::string_view(platform::kPathSeparators).find(path.back()) == std::string_view::npos)
        path.push_back(platform::kPathSeparator);
    path.append(name);
    return path;
}

bool IsDirectory(const std::string& path) {
    auto status = platform::StatPath(path);
    return status && status->isDirectory;
}

// The entries of spool whose names equal name without regard to case.
std::vector<platform::DirectoryEntry> EntriesIgnoringCase(const std::string& spool,
                                                          std::string_view name) {
    std::vector<platform::DirectoryEntry> found;
    CDirectoryScan scan(ChildPath(spool, "*"));
    while (scan.Next()) {
        if (ansi::EqualNoCase(scan.GetName(), name))
            found.push_back({scan.GetName(), scan.IsDirectory()});
    }
    return found;
}

// The one folder of spool whose name equals name without regard to case, when there is
// exactly one; with several the choice would be a guess.
std::optional<std::string> FindFolderIgnoringCase(const std::string& spool, std::string_view name) {
    std::optional<std::string> folder;
    for (const platform::DirectoryEntry& entry : EntriesIgnoringCase(spool, name)) {
        if (!entry.isDirectory)
            continue;
        if (folder)
            return std::nullopt;
        folder = ChildPath(spool, entry.name);
    }
    return folder;
}

// Stores the flagged settings into an account's configuration.
void ApplySettings(CConfigMap& config, const AccountSettings& settings) {
    if (settings.flags & AccountSettings::kStoreSaveEnvelope)
        config.SetInt("SaveEnvelope", settings.saveEnvelope);
    if (settings.flags & AccountSettings::kStoreQuota)
        config.SetInt("Quota", settings.quota);
    if (settings.flags & AccountSettings::kStoreMaxSize)
        config.SetInt("MaxSize", settings.maxSize);
}

// Loads the folder's "config" confined to the spool; a failed load leaves the map empty (what
// it held must not count for this account) and bound to the file.
bool LoadConfigOf(const std::string& spool, const std::string& folder, CConfigMap& config) {
    if (config.LoadWithin(ChildPath(folder, kConfigFile), spool))
        return true;
    config.RemoveAll();
    return false;
}

bool WritePassword(const std::string& spool, const std::string& folder, std::string_view account,
                   std::string_view password) {
    // Replacing, not writing through: a link planted as "password" is replaced, not followed.
    return platform::ReplaceFileAtomicWithin(ChildPath(folder, kPasswordFile), spool,
                                             EncodePassword(account, password), kPasswordFileMode);
}

} // namespace

std::string SpoolDirectory(const CConfigMap& mdadConfig) {
    return mdadConfig.GetString("SpoolDir", platform::kDefaultSpoolDir);
}

bool IsValidAccountName(std::string_view name) {
    if (name.empty() || name.front() == '.')
        return false;
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F)
            return false;
    }
    return true;
}

std::string AccountNameOf(std::string_view localPart, std::string_view domain) {
    if (localPart == "*")
        return std::string(domain);
    std::string name(localPart);
    name.push_back('.');
    name.append(domain);
    return name;
}

std::string AliasAddressOf(std::string_view localPart, std::string_view domain) {
    std::string address(localPart);
    address.push_back('@');
    address.append(domain);
    return address;
}

std::optional<std::string> CAccountStore::AccountFolder(std::string_view account) const {
    if (!IsValidAccountName(account))
        return std::nullopt;
    const std::string spool = GetSpoolDir();
    if (!IsDirectory(spool))
        return std::nullopt;
    std::string folder = ChildPath(spool, account);
    switch (platform::QueryPathKind(folder)) {
    case platform::PathKind::Directory:
        return folder;
    case platform::PathKind::Missing:
        return FindFolderIgnoringCase(spool, account);
    default:
        return std::nullopt; // a file or a link of that name is no account
    }
}

bool CAccountStore::ReadAccount(std::string_view account, std::string& password,
                                CConfigMap& config) const {
    const auto folder = AccountFolder(account);
    if (!folder)
        return false;
    const std::string spool = GetSpoolDir();
    (void)LoadConfigOf(spool, *folder, config);

    // Through a link out of the spool the first line of a foreign file would show as the
    // password.
    std::string content;
    if (!platform::ReadWholeFileWithin(ChildPath(*folder, kPasswordFile), spool, content) ||
        content.empty())
        return true;
    // The first line, without its line end (LF or CR LF, as text mode reads it).
    std::string_view line(content);
    line = line.substr(0, line.find('\n'));
    if (line.size() < content.size() && line.ends_with('\r'))
        line.remove_suffix(1);
    if (config.GetString("Password", "plain") == "kvcrypt")
        password = DecodePassword(account, line);
    else
        password.assign(line);
    return true;
}

bool CAccountStore::LoadAccountConfig(std::string_view account, CConfigMap& config) const {
    const auto folder = AccountFolder(account);
    if (!folder)
        return false;
    return LoadConfigOf(GetSpoolDir(), *folder, config);
}

bool CAccountStore::MayReadAccountFile(const std::string& path) const {
    return platform::StaysWithin(path, GetSpoolDir(), platform::Access::Read);
}

bool CAccountStore::MayWriteAccountFile(const std::string& path) const {
    return platform::StaysWithin(path, GetSpoolDir(), platform::Access::Write);
}

bool CAccountStore::CreateAccount(std::string_view account, std::string_view password,
                                  const AccountSettings& settings,
                                  const std::function<bool(std::string_view)>& hasCaseTwin) const {
    if (!IsValidAccountName(account))
        return false;
    const std::string spool = GetSpoolDir();
    if (!IsDirectory(spool))
        return false;
    const std::string folder = ChildPath(spool, account);
    // An account that differs only in letter case is the same account to the services.
    if (platform::QueryPathKind(folder) != platform::PathKind::Missing ||
        (hasCaseTwin ? hasCaseTwin(ansi::ToLower(account))
                     : !EntriesIgnoringCase(spool, account).empty()))
        return false;
    if (!platform::MakeDirectory(folder))
        return false;
    if (!WritePassword(spool, folder, account, password))
        return false;

    CConfigMap config;
    // Binds the map to the new file; there is nothing to load in a folder just made, and should
    // something have appeared meanwhile, it is not taken over.
    config.LoadWithin(ChildPath(folder, kConfigFile), spool);
    config.RemoveAll();
    config.SetString("Password", "kvcrypt");
    ApplySettings(config, settings);
    return config.Save(false);
}

bool CAccountStore::ChangeAccount(std::string_view account,
                                  std::optional<std::string_view> password,
                                  const AccountSettings& settings) const {
    const auto folder = AccountFolder(account);
    if (!folder)
        return false;
    const std::string spool = GetSpoolDir();
    CConfigMap config;
    (void)LoadConfigOf(spool, *folder, config);
    if (password) {
        if (!WritePassword(spool, *folder, account, *password))
            return false;
        config.SetString("Password", "kvcrypt");
    }
    ApplySettings(config, settings);
    return config.Save(false);
}

bool CAccountStore::RemoveAccount(std::string_view account) const {
    if (!IsValidAccountName(account))
        return false;
    const std::string spool = GetSpoolDir();
    if (!IsDirectory(spool))
        return false;
    std::string folder = ChildPath(spool, account);
    if (platform::QueryPathKind(folder) == platform::PathKind::Missing) {
        auto found = FindFolderIgnoringCase(spool, account);
        if (!found)
            return false;
        folder = std::move(*found);
    }
    return RemoveTree(folder);
}

std::optional<std::string> CAccountStore::SetAsideAccount(std::string_view account) const {
    const auto folder = AccountFolder(account);
    if (!folder)
        return std::nullopt;
    const std::string spool = GetSpoolDir();
    const std::string base = std::string(kRemovedFolderPrefix) + std::string(account) + "-";
    // The number keeps two removals of one name apart (removed, made again, removed again).
    for (int number = 1; number < 1000; ++number) {
        const std::string aside = ChildPath(spool, base + std::to_string(number));
        if (platform::QueryPathKind(aside) != platform::PathKind::Missing)
            continue;
        if (platform::RenameNoReplace(*folder, aside))
            return aside;
        if (platform::QueryPathKind(aside) == platform::PathKind::Missing)
            return std::nullopt; // the rename itself failed
    }
    return std::nullopt;
}

bool CAccountStore::RestoreAccount(const std::string& aside, std::string_view account) const {
    // Back into the folder it was set aside in, which is the spool it was removed from even if
    // "SpoolDir" has been changed since.
    const std::size_t separator = aside.find_last_of(platform::kPathSeparators);
    if (!IsValidAccountName(account) || separator == std::string::npos)
        return false;
    return platform::RenameNoReplace(aside, ChildPath(aside.substr(0, separator), account));
}

bool CAccountStore::DiscardAccount(const std::string& aside) const {
    return RemoveTree(aside);
}

bool RemoveTree(const std::string& folder) {
    switch (platform::QueryPathKind(folder)) {
    case platform::PathKind::Directory:
        break;
    case platform::PathKind::Link:
        return platform::RemoveFile(folder);
    default:
        return false;
    }
    // The names are taken first and deleted after: a directory that changes while it is
    // listed may report its remaining entries or not.
    struct Entry {
        std::string name;
        bool isDirectory;
    };
    std::vector<Entry> entries;
    CDirectoryScan scan(ChildPath(folder, "*"));
    while (scan.Next()) {
        if (scan.GetName() == "." || scan.GetName() == "..")
            continue;
        entries.push_back({scan.GetName(), scan.IsDirectory()});
    }
    for (const Entry& entry : entries) {
        const std::string path = ChildPath(folder, entry.name);
        // The scan reports a link to a folder as no folder; RemoveTree checks again itself.
        const bool removed = entry.isDirectory ? RemoveTree(path) : platform::RemoveFile(path);
        if (!removed)
            return false;
    }
    return platform::RemoveEmptyDirectory(folder);
}
