// The delivery tab: how the delivery agent sends outgoing mail. Either the agent works off the
// outgoing queue itself (automatic delivery), or scripts do it at fixed times of day through
// the system's job scheduler (manual delivery). The page holds the fields of both modes; the
// mode decides which can be edited and what apply writes. Delivery times are added and deleted
// in the scheduler at once; the keys go into "mdad.cfg" on apply, the scripts are created and
// deleted on apply after a question each.
#pragma once

#include "app/ConfigSet.h"
#include "pages/FieldModel.h"
#include "pages/Help.h"
#include "pages/RowModel.h"
#include "platform/ServiceManager.h"
#include "platform/TaskScheduler.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The delivery times: one row per job of the program, "id - hh:mm".
class CDeliveryTimeRows : public CRowModel {
public:
    std::span<const CColumnSpec> Columns() const override;
    std::size_t RowCount() const override { return m_texts.size(); }
    std::string CellText(std::size_t row, std::size_t /*column*/) const override {
        return m_texts[row];
    }

    void Clear();
    void Add(std::uint32_t id, std::uint32_t jobTime);
    const std::string& Text(std::size_t row) const { return m_texts[row]; }

private:
    std::vector<std::string> m_texts;
};

class CPageConfigMDA : public CPageModel {
public:
    // Fields (the ids the form names its controls after).
    static constexpr const char* kParallel = "parallelScripts";
    static constexpr const char* kMode = "mode"; // "1" automatic, "0" manual
    static constexpr const char* kRetry = "retryInterval";
    static constexpr const char* kMaxTime = "maxDeliveryTime";
    static constexpr const char* kPostmasterOn = "postmasterOn";
    static constexpr const char* kPostmaster = "postmaster";
    static constexpr const char* kHour = "newHour";
    static constexpr const char* kMinute = "newMinute";
    static constexpr const char* kOnArrival = "deliverOnArrival";
    static constexpr const char* kBounce = "bounceAttachment";
    static constexpr const char* kThreads = "threads";
    // The list and the commands.
    static constexpr const char* kTimes = "deliveryTimes";
    static constexpr const char* kAddTime = "addTime";
    static constexpr const char* kRemoveTime = "removeTime";
    static constexpr const char* kRules = "rules";
    static constexpr const char* kAdvanced = "advanced";
    // The scheduler's service.
    static constexpr const char* kScheduleService = "Schedule";

    // Makes one of the dialogs the two buttons open ("&Regeln...", "&Erweitert...").
    using DialogFactory = std::function<std::unique_ptr<CDialogModel>(CConfigSet&)>;
    using SleepFunction = std::function<void(unsigned ms)>;

    // What the page works with beyond the configuration set; the system's own unless a test
    // gives its own. configDir is the value of MAILCONFIGDIR.
    struct Environment {
        std::shared_ptr<platform::TaskScheduler> scheduler = nullptr;
        std::shared_ptr<platform::ServiceManager> services = nullptr;
        std::optional<std::string> configDir = std::nullopt;
        SleepFunction sleepMs = nullptr;
    };
    static Environment SystemEnvironment();

    // Reads the fields from "mdad.cfg" and fixes the two script paths; the delivery-on-arrival
    // box shows whether the newmail script exists now.
    explicit CPageConfigMDA(CConfigSet& config, DialogFactory rules = {},
                            DialogFactory advanced = {},
                            Environment environment = SystemEnvironment());

    const char* Caption() const override { return "Zustellung"; }
    unsigned HelpContext() const override { return help::resource::kPageDelivery; }
    const char* FormName() const override { return "PageDelivery"; }
    std::span<const CFieldSpec> Fields() const override;
    std::span<const CCommandSpec> Commands() const override;
    std::span<const CListSpec> Lists() const override;
    CRowModel* RowsOf(std::string_view listId) override;

    // Fills the delivery times when the scheduler runs.
    void OnFirstShow(CPrompter& prompter) override;
    // Writes the keys of the mode and looks after the scripts, then locks cancel.
    bool OnApply(CPrompter& prompter) override;
    bool OnStage(CPrompter& prompter) override;
    // Its keys of "mdad.cfg", the delivery times, and "smarthosts" (the rules' button).
    std::optional<std::string> ShowKey(std::string_view file, std::string_view key,
                                       CPrompter& prompter) override;
    void OnCommand(std::string_view commandId, CPrompter& prompter) override;
    // The mode decides what can be edited; the postmaster address needs its box too.
    void UpdateStates() override;

    bool Automatic() const { return Value(kMode) == "1"; }
    const std::string& SendmailScript() const { return m_sendmailScript; }
    const std::string& NewmailScript() const { return m_newmailScript; }
    const CDeliveryTimeRows& Times() const { return m_times; }

    // The scheduled delivery, as the list and its buttons run it.
    void RefreshScheduleList(CPrompter& prompter);
    void AddDeliveryTime(CPrompter& prompter);
    void RemoveDeliveryTime(CPrompter& prompter);

    // Whether a job of the scheduler is one of this program's delivery times.
    bool IsOwnJob(const std::string& command) const;

private:
    bool ScheduleRunning() const;
    // Adding a time: the view hands the hour and minute over unchecked, and they are taken
    // here, after the question about the "Schedule" service, as the exchange would take them.
    bool TakeTimeFields(CPrompter& prompter);
    void RunFactory(const DialogFactory& factory, CPrompter& prompter);
    void OfferToCreate(const std::string& path, unsigned question, unsigned textId,
                       CPrompter& prompter);
    void OfferToDelete(const std::string& path, unsigned question, CPrompter& prompter);

    CConfigSet& m_config;
    DialogFactory m_rules;
    DialogFactory m_advanced;
    Environment m_env;
    std::string m_sendmailScript;
    std::string m_newmailScript;
    CDeliveryTimeRows m_times;
};
