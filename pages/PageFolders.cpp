#include "pages/PageFolders.h"

#include "Common/Ansi.h"
#include "app/Strings.h"
#include "pages/BrowseForFolder.h"
#include "platform/DefaultPaths.h"
#include "platform/FileSystem.h"

#include <array>
#include <initializer_list>
#include <string>

namespace {

constexpr int kMaxPath = 255;

// In exchange order; the rows put them on screen as local queue, outgoing queue, spool, faulty
// and filtered mails.
constexpr std::array<CFieldSpec, 5> kFields{{
    {CPageFolders::kErrorDir, FieldType::Text, "&Ablageverzeichnis für fehlerhafte Mails:", 3,
     kMaxPath},
    {CPageFolders::kOutgoingDir, FieldType::Text, "&Ausgehendes Warteschlangenverzeichnis:", 1,
     kMaxPath},
    {CPageFolders::kQueueDir, FieldType::Text, "Lokales &Warteschlangenverzeichnis:", 0, kMaxPath},
    {CPageFolders::kSpoolDir, FieldType::Text, "&Spoolverzeichnis für Mailkonten:", 2, kMaxPath},
    {CPageFolders::kFilterDir, FieldType::Text, "Ablageverzeichnis für &gefilterte Mails:", 4,
     kMaxPath},
}};

constexpr std::array<CCommandSpec, 5> kCommands{{
    {CPageFolders::kBrowseErrorDir, "Durchsuchen...", CPageFolders::kErrorDir},
    {CPageFolders::kBrowseOutgoingDir, "Durchsuchen...", CPageFolders::kOutgoingDir},
    {CPageFolders::kBrowseQueueDir, "Durchsuchen...", CPageFolders::kQueueDir},
    {CPageFolders::kBrowseSpoolDir, "Durchsuchen...", CPageFolders::kSpoolDir},
    {CPageFolders::kBrowseFilterDir, "Durchsuchen...", CPageFolders::kFilterDir},
}};

// The string-table prompt of each field's folder picker.
struct BrowsePrompt {
    const char* fieldId;
    unsigned promptId;
};
constexpr std::array<BrowsePrompt, 5> kPrompts{{
    {CPageFolders::kErrorDir, 155},
    {CPageFolders::kOutgoingDir, 156},
    {CPageFolders::kQueueDir, 157},
    {CPageFolders::kSpoolDir, 158},
    {CPageFolders::kFilterDir, 159},
}};

// The fields in the order the page shows them, which is the order their checks are told in;
// with the default each stands for when it is empty.
struct Folder {
    const char* fieldId;
    const char* defaultPath;
};
constexpr std::array<Folder, 5> kScreenOrder{{
    {CPageFolders::kQueueDir, platform::kDefaultQueueDir},
    {CPageFolders::kOutgoingDir, platform::kDefaultOutgoingDir},
    {CPageFolders::kSpoolDir, platform::kDefaultSpoolDir},
    {CPageFolders::kErrorDir, platform::kDefaultErrorDir},
    {CPageFolders::kFilterDir, platform::kDefaultFilterDir},
}};

// The services resolve these directories from their own working directory: only a path that
// is complete on this system leads them where the user meant. A drive path of the suite's
// Windows files is none on a system whose paths begin with "/".
bool IsCompletePath(std::string_view path) {
    return IsAbsoluteFolderPath(path) &&
           (platform::kPathSeparator != '/' || path.front() == platform::kPathSeparator);
}

std::string RelativeRefusal(const CFieldSpec& field, const std::string& path, const char* example) {
    return strings::Literal("Das Verzeichnis \"%s\" ", path) +
           strings::Literal("(%s) ist kein vollständiger Pfad. Die Dienste laufen in einem "
                            "anderen Arbeitsverzeichnis und fänden es nicht. ",
                            LabelText(field)) +
           strings::Literal("Bitte geben Sie den vollständigen Pfad an, zum Beispiel \"%s\".",
                            example);
}

// Creates path with every folder above it that is missing. False when one could not be made;
// errorCode then holds the system's code of that failure.
bool MakeFolders(const std::string& path, int& errorCode) {
    std::vector<std::string> missing;
    for (std::string at = path; !at.empty() && !platform::StatPath(at);) {
        missing.push_back(at);
        const std::size_t slash = at.find_last_of(platform::kPathSeparators);
        if (slash == std::string::npos || slash == 0)
            break;
        at.erase(slash);
    }
    for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
        if (!platform::MakeDirectory(*folder)) {
            errorCode = platform::LastError();
            return false;
        }
    }
    return true;
}

constexpr unsigned kQueueCopiesDiffer = 57347;
constexpr unsigned kSpoolCopiesDiffer = 57348;
constexpr unsigned kSpoolIsQueue = 57349;
constexpr unsigned kSpoolIsOutgoing = 57350;
constexpr unsigned kQueueIsOutgoing = 57351;

} // namespace

CPageFolders::CPageFolders(CConfigSet& config) : m_config(config) {
    const CConfigMap& mdad = m_config.mdad;
    SetValue(kErrorDir, mdad.GetString(kErrorDir, platform::kDefaultErrorDir));
    SetValue(kOutgoingDir, mdad.GetString(kOutgoingDir, platform::kDefaultOutgoingDir));
    SetValue(kQueueDir, mdad.GetString(kQueueDir, platform::kDefaultQueueDir));
    SetValue(kSpoolDir, mdad.GetString(kSpoolDir, platform::kDefaultSpoolDir));
    SetValue(kFilterDir, mdad.GetString(kFilterDir, platform::kDefaultFilterDir));
    for (const Folder& folder : kScreenOrder)
        m_loaded[folder.fieldId] = Value(folder.fieldId);
}

std::span<const CFieldSpec> CPageFolders::Fields() const {
    return kFields;
}

std::span<const CCommandSpec> CPageFolders::Commands() const {
    return kCommands;
}

void CPageFolders::Lock(const char* fieldId, const char* commandId) {
    SetEnabled(fieldId, false);
    SetEnabled(commandId, false);
}

void CPageFolders::OnFirstShow(CPrompter& prompter) {
    // Copies that differ may be deliberate (a service kept on a tree of its own); writing one
    // value over all of them would move that service's data away from it. So a disagreeing key
    // is reported once and then kept out of editing and writing.
    // A file whose load failed holds no copy at all; what it shows are defaults, and a warning
    // about them would send the administrator looking for a disagreement that is not there.
    const auto copyOf = [this](const CConfigMap& file) { return !m_config.LoadFailed(&file); };
    const std::string& queue = Value(kQueueDir);
    if (copyOf(m_config.smtpd) &&
        !ansi::EqualNoCase(m_config.smtpd.GetString(kQueueDir, platform::kDefaultQueueDir),
                           queue)) {
        prompter.Show(kQueueCopiesDiffer, MessageKind::Warning);
        m_queueLocked = true;
        Lock(kQueueDir, kBrowseQueueDir);
    }

    const std::string& spool = Value(kSpoolDir);
    bool spoolAgrees = true;
    for (const CConfigMap* copy : {&m_config.smtpd, &m_config.pop3d, &m_config.imap4d}) {
        if (copyOf(*copy) &&
            !ansi::EqualNoCase(copy->GetString(kSpoolDir, platform::kDefaultSpoolDir), spool)) {
            spoolAgrees = false;
            break;
        }
    }
    if (!spoolAgrees) {
        prompter.Show(kSpoolCopiesDiffer, MessageKind::Warning);
        m_spoolLocked = true;
        Lock(kSpoolDir, kBrowseSpoolDir);
    }

    m_reportedOverlaps.clear();
    WarnAboutOverlaps(prompter);
}

bool CPageFolders::CheckChangedFolders(CPrompter& prompter) {
    for (const Folder& folder : kScreenOrder) {
        const std::string& path = Value(folder.fieldId);
        const bool locked = (folder.fieldId == std::string_view(kQueueDir) && m_queueLocked) ||
                            (folder.fieldId == std::string_view(kSpoolDir) && m_spoolLocked);
        if (locked || path.empty() || path == m_loaded[folder.fieldId])
            continue;
        const CFieldSpec& field = *FindField(folder.fieldId);
        if (!IsCompletePath(path)) {
            prompter.ShowText(RelativeRefusal(field, path, folder.defaultPath), MessageKind::Error);
            return false;
        }
        if (const auto status = platform::StatPath(path)) {
            if (status->isDirectory)
                continue;
            prompter.ShowText(
                strings::Literal("\"%s\" ist kein Verzeichnis, sondern eine Datei. ", path) +
                    strings::Literal("Bitte wählen Sie ein Verzeichnis (%s).", LabelText(field)),
                MessageKind::Error);
            return false;
        }
        if (m_leftMissing.count(path))
            continue;
        const std::string question =
            strings::Literal("Das Verzeichnis \"%s\" ", path) +
            strings::Literal("(%s) ist nicht vorhanden.\n\nSoll es jetzt angelegt werden? Mit "
                             "\"Nein\" wird es trotzdem eingetragen; die Dienste brauchen es, "
                             "sobald sie es verwenden.",
                             LabelText(field));
        if (prompter.ShowText(question, MessageKind::Question) != Answer::Yes) {
            m_leftMissing.insert(path);
            continue;
        }
        if (m_config.dryRun) {
            m_config.journal.Record(CJournal::Kind::FolderCreated, path, false);
            continue;
        }
        int error = 0;
        if (!MakeFolders(path, error)) {
            const std::string cause = platform::WriteFailureCause(path, error);
            prompter.ShowText(strings::Literal("Das Verzeichnis \"%s\" konnte nicht angelegt "
                                               "werden.",
                                               path) +
                                  (cause.empty() ? "" : " " + cause),
                              MessageKind::Error);
            return false;
        }
        m_config.journal.Record(CJournal::Kind::FolderCreated, path);
    }
    return true;
}

void CPageFolders::WarnAboutOverlaps(CPrompter& prompter) {
    const std::string& spool = Value(kSpoolDir);
    const std::string& queue = Value(kQueueDir);
    const std::string& outgoing = Value(kOutgoingDir);
    std::set<unsigned> overlaps;
    if (ansi::EqualNoCase(spool, queue))
        overlaps.insert(kSpoolIsQueue);
    if (ansi::EqualNoCase(spool, outgoing))
        overlaps.insert(kSpoolIsOutgoing);
    if (ansi::EqualNoCase(queue, outgoing))
        overlaps.insert(kQueueIsOutgoing);
    // The set iterates in ascending number, which is the order the clashes are told in.
    for (unsigned id : overlaps)
        if (!m_reportedOverlaps.count(id))
            prompter.Show(id, MessageKind::Error);
    m_reportedOverlaps = std::move(overlaps);
}

bool CPageFolders::OnApply(CPrompter& prompter) {
    // A clash typed in since the page was first shown would otherwise reach the services
    // unnoticed; one the user was already told about is not repeated. Warnings only: the user
    // may have reasons, so the values are written regardless.
    if (!CheckChangedFolders(prompter))
        return false;
    WarnAboutOverlaps(prompter);
    (void)OnStage(prompter);
    LockCancel();
    SetModified(false);
    return true;
}

bool CPageFolders::OnStage(CPrompter&) {
    if (!m_queueLocked) {
        const std::string& queue = Value(kQueueDir);
        m_config.smtpd.SetString(kQueueDir, queue);
        m_config.mdad.SetString(kQueueDir, queue);
    }
    if (!m_spoolLocked) {
        const std::string& spool = Value(kSpoolDir);
        m_config.smtpd.SetString(kSpoolDir, spool);
        m_config.pop3d.SetString(kSpoolDir, spool);
        m_config.imap4d.SetString(kSpoolDir, spool);
        m_config.mdad.SetString(kSpoolDir, spool);
    }
    m_config.mdad.SetString(kOutgoingDir, Value(kOutgoingDir));
    m_config.mdad.SetString(kErrorDir, Value(kErrorDir));
    m_config.mdad.SetString(kFilterDir, Value(kFilterDir));
    return true;
}

void CPageFolders::OnCommand(std::string_view commandId, CPrompter& prompter) {
    const CCommandSpec* command = nullptr;
    for (const CCommandSpec& candidate : kCommands)
        if (commandId == candidate.id)
            command = &candidate;
    // A locked directory can be neither edited nor browsed, whatever the view lets through.
    if (!command || !IsEnabled(command->id) || !IsEnabled(command->fieldId))
        return;
    unsigned promptId = 0;
    for (const BrowsePrompt& prompt : kPrompts)
        if (std::string_view(prompt.fieldId) == command->fieldId)
            promptId = prompt.promptId;

    const std::string& prompt = strings::Text(promptId);
    if (prompt.empty())
        return;
    const auto chosen = prompter.BrowseForFolder(prompt, Value(command->fieldId));
    // A picker that could not name a path gives nothing to take and nothing to say.
    if (!chosen || chosen->empty())
        return;
    std::string folder = *chosen;
    if (!IsCompletePath(folder)) {
        const char* example = "";
        for (const Folder& candidate : kScreenOrder)
            if (command->fieldId == std::string_view(candidate.fieldId))
                example = candidate.defaultPath;
        prompter.ShowText(RelativeRefusal(*FindField(command->fieldId), folder, example),
                          MessageKind::Error);
        return;
    }
    // The control would cut a longer path to its limit on redraw and write the cut path.
    if (auto refusal = Refusal(*FindField(command->fieldId), folder)) {
        prompter.ShowText(*refusal, MessageKind::Warning);
        return;
    }
    SetValue(command->fieldId, std::move(folder));
    SetModified();
}

void CPageFolders::OnFieldEdited(std::string_view id) {
    if (FindField(id))
        SetModified();
}

std::optional<std::string> CPageFolders::ShowKey(std::string_view file, std::string_view key,
                                                 CPrompter&) {
    const char* field = ansi::EqualNoCase(file, "mdad.cfg") ? FieldOfKey(key) : nullptr;
    return field ? std::optional<std::string>(field) : std::nullopt;
}
