// What the program wrote while it ran, outside the save of the set: account folders, the list
// files a page applied, scripts, delivery times, folders. Such writes happen at once and are not
// undone by Abbrechen; the preview of a save lists them, and a dry run records here what it
// would have written instead of writing it.
#pragma once

#include <string>
#include <vector>

class CJournal {
public:
    enum class Kind {
        AccountCreated, // subject: the account folder
        AccountAdopted, // a folder without an address taken over as the account
        AccountChanged, // password, settings or automatic reply
        AccountRemoved, // set aside, deleted once the set is saved
        ListWritten,    // a page's list file
        ScriptCreated,
        ScriptDeleted,
        DeliveryTimeAdded, // subject: the time and the script
        DeliveryTimeRemoved,
        FolderCreated,
    };
    struct Entry {
        Kind kind;
        std::string subject; // code page
        bool done;           // false: what a dry run would have done
    };

    void Record(Kind kind, std::string subject, bool done = true) {
        m_entries.push_back({kind, std::move(subject), done});
    }
    const std::vector<Entry>& Entries() const { return m_entries; }

    // The entry in a German sentence for the user, in the code page.
    static std::string Describe(const Entry& entry);

private:
    std::vector<Entry> m_entries;
};
