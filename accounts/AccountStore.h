// The account folders under the spool directory: one folder per mailbox, holding the encoded
// "password" file, the key-value "config" file and, while automatic reply is on, the reply
// template. Folders are created, changed and deleted on disk at once.
#pragma once

#include "Common/MapEx.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// What CreateAccount and ChangeAccount store in an account's "config"; a key whose flag is
// clear is not written.
struct AccountSettings {
    enum Flag : unsigned {
        kStoreSaveEnvelope = 1, // "SaveEnvelope"
        kStoreQuota = 2,        // "Quota"
        kStoreMaxSize = 4,      // "MaxSize"
    };
    unsigned flags = 0;
    int saveEnvelope = 0; // 0 or 1: keep the envelope headers in stored mail
    int quota = 0;        // megabytes, 0 for none
    int maxSize = 0;      // kilobytes, 0 for none
};

// The spool directory: "SpoolDir" of the delivery agent's configuration ("mdad.cfg"), or the
// suite's default. Read afresh by every operation, so that a change on the Folders page
// applies at once.
std::string SpoolDirectory(const CConfigMap& mdadConfig);

// Whether name may name an account folder. Names come from the user and from "aliases", and
// must never lead out of the spool directory: an empty name, one holding "/" or "\" or a
// control character, and one that begins with "." ("." and ".." among them) are refused.
bool IsValidAccountName(std::string_view name);

// The naming rule of new accounts: local part L in domain D is the account L "." D, reached
// through the alias L "@" D; the catch-all local part "*" makes the account D itself. An
// account made without a domain is named by its local part and gets no alias.
std::string AccountNameOf(std::string_view localPart, std::string_view domain);
std::string AliasAddressOf(std::string_view localPart, std::string_view domain);

// The operations on account folders. Every one reads the spool directory afresh from the
// delivery agent's configuration and returns false on failure without saying why; the pages
// turn that into their messages. No operation changes the process's current directory.
//
// An account name is looked up as the suite's own platform looks up folder names, without
// regard to case: "info.example.test" finds the folder "Info.Example.Test" when there is no
// folder of the exact name (and exactly one that differs only in case).
class CAccountStore {
public:
    explicit CAccountStore(const CConfigMap& mdadConfig) : m_config(mdadConfig) {}

    std::string GetSpoolDir() const { return SpoolDirectory(m_config); }

    // The full path of the account's folder, or nothing when the name is not valid or there is
    // no such folder (a link is not an account folder).
    std::optional<std::string> AccountFolder(std::string_view account) const;

    // Loads the account's "config" into config (left empty when that fails) and reads the
    // password from the first line of "password", decoded when "Password" says "kvcrypt".
    // True when the account folder exists; a missing or empty "password" file leaves password
    // as it was. Both files are read as LoadAccountConfig reads: one that is a link out of the
    // spool counts as unreadable.
    bool ReadAccount(std::string_view account, std::string& password, CConfigMap& config) const;

    // Binds config to the account's "config", confined to the spool, and loads it. A "config"
    // that leads out of the spool through a link is not read (and later saves of the map
    // replace the link instead of writing through it). A failed load leaves the map empty but
    // bound, so that a Save writes the account's file. False when the account has no folder
    // (the map is then left alone) or the file could not be loaded.
    bool LoadAccountConfig(std::string_view account, CConfigMap& config) const;

    // For the other files of an account folder, the reply template among them, which are read
    // and written by name (CMail::Load and Save): whether path may be read, that is whether it
    // leads to a file inside the spool with every link resolved; and whether it may be
    // written, that is whether the folder holding it lies inside the spool (the write itself
    // replaces a link at path, as CMail::Save does).
    bool MayReadAccountFile(const std::string& path) const;
    bool MayWriteAccountFile(const std::string& path) const;

    // Every write below stays inside the spool and replaces a link planted at a file's path
    // instead of writing through it.
    //
    // Makes the folder of a new account with its "password" (encoded, readable by its owner
    // only) and a "config" holding "Password: kvcrypt" and the flagged settings. False when the
    // account exists already. A late failure is not undone: the folder stays.
    // An account whose name differs only in letter case counts as existing; hasCaseTwin, when
    // given, answers that for the lower-cased name (a caller that keeps the account list knows
    // it without listing the spool for each new account), otherwise the spool is listed.
    bool CreateAccount(std::string_view account, std::string_view password,
                       const AccountSettings& settings,
                       const std::function<bool(std::string_view)>& hasCaseTwin = {}) const;

    // Rewrites "password" when a password is given, then stores the flagged settings into the
    // account's "config"; other keys there stay as they were.
    bool ChangeAccount(std::string_view account, std::optional<std::string_view> password,
                       const AccountSettings& settings) const;

    // Deletes the account folder with everything in it (RemoveTree).
    bool RemoveAccount(std::string_view account) const;

    // A removal in two steps, so that a mailbox is destroyed only once the configuration that
    // no longer names it is saved. SetAsideAccount renames the account's folder inside the
    // spool to a hidden name (kRemovedFolderPrefix, the account, a number), where no account
    // list and no service sees it any more, and returns that path; nothing when the folder is
    // not there or cannot be renamed. RestoreAccount gives it its name back (false when the
    // name has been taken again meanwhile: the folder then stays aside, nothing is lost);
    // DiscardAccount deletes it for good.
    std::optional<std::string> SetAsideAccount(std::string_view account) const;
    bool RestoreAccount(const std::string& aside, std::string_view account) const;
    bool DiscardAccount(const std::string& aside) const;

private:
    const CConfigMap& m_config;
};

// The name of an account folder set aside by a removal begins with this; a folder of that name
// that outlived its program is a removal that was interrupted, with the mail still inside.
inline constexpr std::string_view kRemovedFolderPrefix = ".removed-";

// Deletes folder with everything below it, depth first, and stops at the first entry it
// cannot delete (what went before stays deleted). A link is never followed: a link inside the
// tree is removed as a link and its target stays; a folder that is itself a link is removed
// as a link. False when folder is not there or is a plain file, or something could not go.
bool RemoveTree(const std::string& folder);
