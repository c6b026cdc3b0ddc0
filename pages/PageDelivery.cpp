#include "pages/PageDelivery.h"

#include "Common/Ansi.h"
#include "app/ServiceControl.h"
#include "app/Strings.h"
#include "platform/DefaultPaths.h"
#include "platform/FileSystem.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

using P = CPageConfigMDA;

constexpr std::array<CChoice, 2> kModes{{
    {"1", "&automatischer Mailtransport"},
    {"0", "&manueller Mailtransport (veraltet)"},
}};

// Keys of "mdad.cfg".
constexpr const char* kAutoTransport = "AutoTransport";
constexpr const char* kThreadsKey = "AutoTransport.Threads";
constexpr const char* kRetryKey = "AutoTransRetry";
constexpr const char* kMaxTimeKey = "AutoTransTime";
constexpr const char* kBounceKey = "BounceAttachment";
constexpr const char* kPostmasterKey = "Postmaster";
constexpr const char* kParallelKey = "Scripts.Execution.Parallel";
constexpr const char* kParallelOldKey = "AsyncScripts"; // the older name, read but not written

// In exchange order, which is the order the fields have always been read in. The rows are
// unused: the form lays the page out. The keys name what each field stands for (the command
// line checks a value against the field); the page loads and applies them in its own code,
// where the mode and the postmaster switch decide what is written.
constexpr std::array<CFieldSpec, 11> kFields{{
    {.id = P::kParallel, .type = FieldType::Check,
     .label = "Scripte &parallel Ausführen (nicht auf Ende warten)", .key = kParallelKey,
     .olderKey = kParallelOldKey},
    {.id = P::kMode, .type = FieldType::Choice, .label = "", .choices = kModes,
     .key = kAutoTransport},
    {.id = P::kRetry, .type = FieldType::Number, .label = "&Wiederholungsintervall (Minuten):",
     .minimum = 15, .maximum = 360, .arrowMinimum = 15, .arrowMaximum = 360, .key = kRetryKey},
    {.id = P::kMaxTime, .type = FieldType::Number,
     .label = "&maximaler Zustelltimeout (Minuten):", .minimum = 360, .maximum = 10080,
     .arrowMinimum = 360, .arrowMaximum = 10080, .key = kMaxTimeKey},
    {.id = P::kPostmasterOn, .type = FieldType::Check,
     .label = "&Postmaster-Adresse für Unzustellbarkeitsberichte:"},
    {.id = P::kPostmaster, .type = FieldType::Text, .label = "", .maxLength = 256,
     .key = kPostmasterKey},
    // The hour and minute of a new delivery time: typed, without arrows.
    {.id = P::kHour, .type = FieldType::Number, .label = "", .maxLength = 2, .minimum = 0,
     .maximum = 23},
    {.id = P::kMinute, .type = FieldType::Number, .label = ":", .maxLength = 2, .minimum = 0,
     .maximum = 59},
    {.id = P::kOnArrival, .type = FieldType::Check,
     .label = "&zusätzlich bei Nachrichteneingang senden"},
    {.id = P::kBounce, .type = FieldType::Check,
     .label = "&Unzustellbarkeitsbericht mit Original-E-Mail senden", .key = kBounceKey},
    {.id = P::kThreads, .type = FieldType::Number, .label = "&Maximale Threads:", .minimum = 1,
     .maximum = 20, .arrowMinimum = 1, .arrowMaximum = 20, .key = kThreadsKey},
}};

constexpr std::array<CCommandSpec, 4> kCommands{{
    // The question about the "Schedule" service comes before the time fields are checked.
    {.id = P::kAddTime, .label = "Hin&zufügen", .takesFields = false},
    {.id = P::kRemoveTime,
     .label = "Ent&fernen",
     .places = kPlaceButton | kPlaceDeleteKey,
     .listId = P::kTimes},
    {.id = P::kRules, .label = "&Regeln..."},
    {.id = P::kAdvanced, .label = "&Erweitert..."},
}};

constexpr std::array<CListSpec, 1> kLists{{{P::kTimes, CListSpec::Kind::List}}};

constexpr std::array<CColumnSpec, 1> kTimeColumns{{{"Zeit", 0}}};

// Messages.
constexpr unsigned kScheduleStartFailed = 130;
constexpr unsigned kAddFailed = 131;
constexpr unsigned kRemoveFailed = 132;
constexpr unsigned kListFailed = 133;
constexpr unsigned kStartSchedule = 134;
constexpr unsigned kNewmailText = 135;
constexpr unsigned kSendmailText = 136;
constexpr unsigned kCreateNewmail = 137;
constexpr unsigned kCreateSendmail = 138;
constexpr unsigned kDeleteNewmail = 139;
constexpr unsigned kDeleteSendmail = 140;
constexpr unsigned kAlreadyScheduled = 165;

bool Exists(const std::string& path) {
    return platform::StatPath(path).has_value();
}

// A word the shell takes as it stands: single-quoted, an inner quote closed, escaped and
// reopened.
std::string ShellQuoted(std::string_view text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}

// The bytes of a script: the text of the string table, which holds "\n" alone, with the line
// break of the platform's scripts, and the configuration folder where the text asks for it.
std::string ScriptBytes(unsigned textId, const std::string& configDir) {
    const std::string& text = strings::Text(textId);
    const std::string_view placeholder = strings::kConfigDirPlaceholder;
    std::string bytes;
    bytes.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, placeholder.size(), placeholder) == 0) {
            bytes += ShellQuoted(configDir);
            i += placeholder.size() - 1;
        } else if (text[i] == '\n') {
            bytes += platform::kScriptLineBreak;
        } else {
            bytes += text[i];
        }
    }
    bytes += platform::kScriptFinalLineBreak;
    return bytes;
}

} // namespace

std::span<const CColumnSpec> CDeliveryTimeRows::Columns() const {
    return kTimeColumns;
}

void CDeliveryTimeRows::Clear() {
    m_texts.clear();
    Reset();
}

void CDeliveryTimeRows::Add(std::uint32_t id, std::uint32_t jobTime) {
    char text[48];
    std::snprintf(text, sizeof text, "%u - %02u:%02u", static_cast<unsigned>(id),
                  static_cast<unsigned>(jobTime / 3600000),
                  static_cast<unsigned>((jobTime / 60000) % 60));
    m_texts.emplace_back(text);
    Reset();
}

CPageConfigMDA::Environment CPageConfigMDA::SystemEnvironment() {
    return Environment{
        .scheduler = platform::CreateTaskScheduler(),
        .services = platform::CreateServiceManager(),
        .configDir = platform::GetEnvironment("MAILCONFIGDIR"),
        .sleepMs = [](unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); },
    };
}

CPageConfigMDA::CPageConfigMDA(CConfigSet& config, DialogFactory rules, DialogFactory advanced,
                               Environment environment)
    : m_config(config), m_rules(std::move(rules)), m_advanced(std::move(advanced)),
      m_env(std::move(environment)) {
    const CConfigMap& mdad = m_config.mdad;
    // Without a configuration directory the script has no folder, and a bare name would put
    // it wherever the program was started: the path stays empty, no script is created or
    // deleted and no delivery time is added.
    if (m_env.configDir && !m_env.configDir->empty())
        m_sendmailScript = PathJoin(*m_env.configDir, platform::kSendmailScriptName);
    m_newmailScript = PathJoin(mdad.GetString("OutgoingDir", platform::kDefaultOutgoingDir),
                               platform::kNewmailScriptName);

    SetNumber(kParallel, mdad.GetInt(kParallelKey, mdad.GetInt(kParallelOldKey, 1)) != 0);
    SetValue(kMode, mdad.GetInt(kAutoTransport, 1) != 0 ? "1" : "0");
    SetNumber(kRetry, mdad.GetInt(kRetryKey, 60));
    SetNumber(kMaxTime, mdad.GetInt(kMaxTimeKey, 1440));
    const std::string postmaster = mdad.GetString(kPostmasterKey, "");
    SetNumber(kPostmasterOn, !postmaster.empty());
    SetValue(kPostmaster, postmaster);
    SetNumber(kHour, 0);
    SetNumber(kMinute, 0);
    SetNumber(kOnArrival, Exists(m_newmailScript));
    SetNumber(kBounce, mdad.GetInt(kBounceKey, 1) != 0);
    SetNumber(kThreads, mdad.GetInt(kThreadsKey, 2));
    UpdateStates();
}

std::span<const CFieldSpec> CPageConfigMDA::Fields() const {
    return kFields;
}

std::span<const CCommandSpec> CPageConfigMDA::Commands() const {
    return kCommands;
}

std::span<const CListSpec> CPageConfigMDA::Lists() const {
    return kLists;
}

CRowModel* CPageConfigMDA::RowsOf(std::string_view listId) {
    return listId == kTimes ? &m_times : nullptr;
}

void CPageConfigMDA::UpdateStates() {
    const bool automatic = Automatic();
    for (const char* id : {kThreads, kRetry, kMaxTime, kPostmasterOn, kBounce, kRules})
        SetEnabled(id, automatic);
    SetEnabled(kPostmaster, automatic && Number(kPostmasterOn) != 0);
    for (const char* id : {kParallel, kAddTime, kRemoveTime, kHour, kMinute, kTimes, kOnArrival})
        SetEnabled(id, !automatic);
    SetEnabled(kAdvanced, true);
}

void CPageConfigMDA::OnFirstShow(CPrompter& prompter) {
    RefreshScheduleList(prompter);
}

void CPageConfigMDA::OnCommand(std::string_view commandId, CPrompter& prompter) {
    if (commandId == kAddTime)
        AddDeliveryTime(prompter);
    else if (commandId == kRemoveTime)
        RemoveDeliveryTime(prompter);
    else if (commandId == kRules)
        RunFactory(m_rules, prompter);
    else if (commandId == kAdvanced)
        RunFactory(m_advanced, prompter);
}

void CPageConfigMDA::RunFactory(const DialogFactory& factory, CPrompter& prompter) {
    if (!factory)
        return;
    std::unique_ptr<CDialogModel> dialog = factory(m_config);
    if (dialog && RunDialogAccepted(prompter, *dialog))
        SetModified();
}

// --- Scheduled delivery ----------------------------------------------------------------------

bool CPageConfigMDA::ScheduleRunning() const {
    return m_env.services && IsServiceRunning(*m_env.services, kScheduleService);
}

bool CPageConfigMDA::IsOwnJob(const std::string& command) const {
    // A configuration directory of its own is what tells our jobs from another installation's.
    const std::string& dir = m_env.configDir.value_or("");
    return !dir.empty() && command.find(dir) != std::string::npos &&
           command.find(platform::kSendmailScriptName) != std::string::npos;
}

void CPageConfigMDA::RefreshScheduleList(CPrompter& prompter) {
    m_times.Clear();
    if (!ScheduleRunning())
        return;
    std::vector<platform::ScheduledJob> jobs;
    if (!m_env.scheduler || !m_env.scheduler->List(jobs)) {
        prompter.Show(kListFailed);
        return;
    }
    for (const platform::ScheduledJob& job : jobs)
        if (IsOwnJob(job.command))
            m_times.Add(job.id, job.jobTime);
}

bool CPageConfigMDA::TakeTimeFields(CPrompter& prompter) {
    for (const char* id : {kHour, kMinute})
        if (!TakeField(*FindField(id), Value(id), prompter))
            return false;
    return true;
}

void CPageConfigMDA::AddDeliveryTime(CPrompter& prompter) {
    if (!ScheduleRunning()) {
        if (prompter.Show(kStartSchedule, MessageKind::Question) != Answer::Yes)
            return;
        bool started = false;
        {
            CProgressScope note(prompter, strings::Literal(strings::kStartingScheduler));
            started = m_env.services &&
                      StartServiceAndWait(*m_env.services, kScheduleService, m_env.sleepMs);
        }
        if (!started) {
            prompter.Show(kScheduleStartFailed);
            return;
        }
    }
    // The view has handed over the texts unchecked; the time is taken only now that the
    // scheduler runs, and a time beyond the day never reaches it.
    if (!TakeTimeFields(prompter))
        return;
    const auto jobTime =
        static_cast<std::uint32_t>((Number(kHour) * 60 + Number(kMinute)) * 60000);

    if (m_env.scheduler) {
        std::vector<platform::ScheduledJob> jobs;
        m_env.scheduler->List(jobs); // a store that cannot be read fails the add below
        for (const platform::ScheduledJob& job : jobs) {
            if (job.jobTime == jobTime && ansi::EqualNoCase(job.command, m_sendmailScript)) {
                prompter.Show(kAlreadyScheduled);
                return;
            }
        }
    }
    std::uint32_t id = 0;
    if (!IsOwnJob(m_sendmailScript) || !m_env.scheduler ||
        !m_env.scheduler->Add(jobTime, m_sendmailScript, id))
        prompter.Show(kAddFailed);
    else {
        char time[16];
        std::snprintf(time, sizeof time, "%02u:%02u ", static_cast<unsigned>(Number(kHour)),
                      static_cast<unsigned>(Number(kMinute)));
        m_config.journal.Record(CJournal::Kind::DeliveryTimeAdded, time + m_sendmailScript);
    }
    RefreshScheduleList(prompter);
}

void CPageConfigMDA::RemoveDeliveryTime(CPrompter& prompter) {
    const std::optional<std::size_t> row = m_times.Selected();
    if (!row || *row >= m_times.RowCount())
        return;
    const unsigned long id = std::strtoul(m_times.Text(*row).c_str(), nullptr, 10);
    const std::string described = m_times.Text(*row);
    if (!m_env.scheduler || !m_env.scheduler->Remove(static_cast<std::uint32_t>(id))) {
        prompter.Show(kRemoveFailed);
        return;
    }
    m_config.journal.Record(CJournal::Kind::DeliveryTimeRemoved, described);
    RefreshScheduleList(prompter);
}

// --- Apply ------------------------------------------------------------------------------------

void CPageConfigMDA::OfferToCreate(const std::string& path, unsigned question, unsigned textId,
                                   CPrompter& prompter) {
    // A script that is there may hold the administrator's own changes: never written over.
    if (path.empty() || Exists(path) || prompter.Show(question, MessageKind::Question) != Answer::Yes)
        return;
    if (platform::WriteFileAtomic(path, ScriptBytes(textId, m_env.configDir.value_or("")),
                                  platform::kScriptMode))
        m_config.journal.Record(CJournal::Kind::ScriptCreated, path);
    else
        prompter.ShowText(
            strings::Literal("Die Scriptdatei \"%s\" konnte nicht angelegt werden. Prüfen Sie, ob "
                             "das Verzeichnis vorhanden ist und beschrieben werden darf.",
                             path),
            MessageKind::Error);
}

void CPageConfigMDA::OfferToDelete(const std::string& path, unsigned question,
                                   CPrompter& prompter) {
    if (path.empty() || !Exists(path) || prompter.Show(question, MessageKind::Question) != Answer::Yes)
        return;
    if (platform::RemoveFile(path))
        m_config.journal.Record(CJournal::Kind::ScriptDeleted, path);
    else
        prompter.ShowText(
            strings::Literal("Die Scriptdatei \"%s\" konnte nicht gelöscht werden. Prüfen Sie, ob "
                             "das Verzeichnis beschrieben werden darf.",
                             path),
            MessageKind::Error);
}

bool CPageConfigMDA::OnApply(CPrompter& prompter) {
    // A script that cannot be created or deleted is reported and the apply goes on: the keys
    // are written all the same.
    if (Automatic()) {
        OfferToDelete(m_sendmailScript, kDeleteSendmail, prompter);
        OfferToDelete(m_newmailScript, kDeleteNewmail, prompter);
    } else {
        OfferToCreate(m_sendmailScript, kCreateSendmail, kSendmailText, prompter);
        if (Number(kOnArrival) != 0)
            OfferToCreate(m_newmailScript, kCreateNewmail, kNewmailText, prompter);
        else
            OfferToDelete(m_newmailScript, kDeleteNewmail, prompter);
    }
    (void)OnStage(prompter);
    LockCancel();
    SetModified(false);
    return true;
}

bool CPageConfigMDA::OnStage(CPrompter&) {
    CConfigMap& mdad = m_config.mdad;
    if (Automatic()) {
        mdad.SetInt(kAutoTransport, 1);
        mdad.SetInt(kThreadsKey, static_cast<int>(Number(kThreads)));
        mdad.SetInt(kRetryKey, static_cast<int>(Number(kRetry)));
        mdad.SetInt(kMaxTimeKey, static_cast<int>(Number(kMaxTime)));
        mdad.SetInt(kBounceKey, Number(kBounce) != 0);
        mdad.SetString(kPostmasterKey, Number(kPostmasterOn) != 0 ? Value(kPostmaster) : "");
    } else {
        // The automatic mode's keys stay as they are in the file.
        mdad.SetInt(kAutoTransport, 0);
        mdad.SetInt(kParallelKey, Number(kParallel) != 0);
    }
    mdad.SetString(kParallelOldKey, "");
    return true;
}

std::optional<std::string> CPageConfigMDA::ShowKey(std::string_view file, std::string_view key,
                                                   CPrompter&) {
    if (ansi::EqualNoCase(file, "smarthosts"))
        return std::string(kRules);
    if (!ansi::EqualNoCase(file, "mdad.cfg"))
        return std::nullopt;
    if (const char* field = FieldOfKey(key))
        return std::string(field);
    // A delivery time, by the text of its row.
    for (std::size_t row = 0; row < m_times.RowCount(); ++row)
        if (m_times.Text(row) == key) {
            m_times.Select(row);
            return std::string(kTimes);
        }
    return std::nullopt;
}
