// The folders tab: the five directories the mail services share. Several services keep their
// own copy of the queue and spool directories; the page shows the delivery agent's copy, warns
// once when the copies disagree and then leaves every copy of that key alone, and on apply
// writes each directory into every file that carries it.
#pragma once

#include "app/ConfigSet.h"
#include "pages/FieldModel.h"
#include "pages/Help.h"

#include <map>
#include <set>
#include <string>

class CPageFolders : public CPageModel {
public:
    // Field ids (also the configuration keys) and the ids of their "Durchsuchen..." buttons.
    static constexpr const char* kErrorDir = "ErrorDir";
    static constexpr const char* kOutgoingDir = "OutgoingDir";
    static constexpr const char* kQueueDir = "QueueDir";
    static constexpr const char* kSpoolDir = "SpoolDir";
    static constexpr const char* kFilterDir = "FilterDir";
    static constexpr const char* kBrowseErrorDir = "browseErrorDir";
    static constexpr const char* kBrowseOutgoingDir = "browseOutgoingDir";
    static constexpr const char* kBrowseQueueDir = "browseQueueDir";
    static constexpr const char* kBrowseSpoolDir = "browseSpoolDir";
    static constexpr const char* kBrowseFilterDir = "browseFilterDir";

    // Reads the five directories from "mdad.cfg".
    explicit CPageFolders(CConfigSet& config);

    const char* Caption() const override { return "Verzeichnisse"; }
    unsigned HelpContext() const override { return help::resource::kPageFolders; }
    std::span<const CFieldSpec> Fields() const override;
    std::span<const CCommandSpec> Commands() const override;

    // Compares the copies of the queue and spool directories, locks a disagreeing one, and
    // warns about directories that must differ but are the same.
    void OnFirstShow(CPrompter& prompter) override;
    // Writes the directories into the service files, leaving a locked key untouched in every
    // file, and locks cancel. A directory changed on the page is refused (false, nothing
    // written) when it is relative; when it does not exist the user is asked whether to create
    // it ("Nein" writes it as it is; a creation that fails is said and writes nothing). An
    // empty directory stands for the service's default and is not looked at.
    bool OnApply(CPrompter& prompter) override;
    bool OnStage(CPrompter& prompter) override;
    // The folder keys of "mdad.cfg".
    std::optional<std::string> ShowKey(std::string_view file, std::string_view key,
                                       CPrompter& prompter) override;
    // The "Durchsuchen..." buttons. A relative folder from the picker is refused with a
    // message.
    void OnCommand(std::string_view commandId, CPrompter& prompter) override;
    // Any edit of a directory makes the page applicable.
    void OnFieldEdited(std::string_view id) override;

    bool QueueLocked() const { return m_queueLocked; }
    bool SpoolLocked() const { return m_spoolLocked; }

private:
    void Lock(const char* fieldId, const char* commandId);
    // Shows each clash among the three directories that must differ, unless the user has
    // already been told about it and it still stands.
    void WarnAboutOverlaps(CPrompter& prompter);
    // The checks of OnApply on the directories changed since the load; false after the
    // message when one cannot be written.
    bool CheckChangedFolders(CPrompter& prompter);

    CConfigSet& m_config;
    bool m_queueLocked = false;
    bool m_spoolLocked = false;
    std::set<unsigned> m_reportedOverlaps;       // message ids of the clashes last shown
    std::map<std::string, std::string> m_loaded; // field id -> the directory as loaded
    std::set<std::string> m_leftMissing;         // missing folders the user chose not to create
};
