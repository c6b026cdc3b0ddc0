// The Syslog tab: the one address and port the syslog service listens on, and the networks it
// accepts messages from. Unlike the listener pages its access list is a key of "syslogd.cfg",
// not a file of its own.
#pragma once

#include "app/ConfigSet.h"
#include "pages/FieldModel.h"
#include "pages/Help.h"
#include "pages/InterfaceDlg.h"
#include "pages/PageListener.h"

#include <string>
#include <vector>

class CPageConfigSyslog : public CPageModel {
public:
    static constexpr const char* kInterface = "interface";
    static constexpr const char* kPort = "port";
    static constexpr const char* kAllowAddress = "allowAddress";
    static constexpr const char* kAllowMask = "allowMask";
    static constexpr const char* kAllowList = "allowList";
    static constexpr const char* kAllowAdd = "allowAdd";
    static constexpr const char* kAllowRemove = "allowRemove";

    explicit CPageConfigSyslog(CConfigSet& config,
                               listener::AddressSource addresses = platform::QueryLocalAddresses);

    const char* Caption() const override { return "Syslog-Server"; }
    unsigned HelpContext() const override { return help::resource::kPageSyslog; }
    const char* FormName() const override { return "PageSyslog"; }
    std::span<const CFieldSpec> Fields() const override;
    std::span<const CCommandSpec> Commands() const override;
    std::span<const CListSpec> Lists() const override;
    CRowModel* RowsOf(std::string_view listId) override;
    std::vector<std::string> Suggestions(std::string_view fieldId) const override;

    // Fills the address list: "<alle>" and the machine's addresses, with the query's message
    // when it fails.
    void OnFirstShow(CPrompter& prompter) override;
    void OnCommand(std::string_view commandId, CPrompter& prompter) override;
    void OnFieldEdited(std::string_view id) override;
    void UpdateStates() override;
    // Refuses an address no service could listen on, then writes the three keys.
    bool OnApply(CPrompter& prompter) override;
    bool OnStage(CPrompter& prompter) override;
    std::optional<std::string> ShowKey(std::string_view file, std::string_view key,
                                       CPrompter& prompter) override;

    const CStringListEx& AllowList() const { return m_allow; }

private:
    CConfigSet& m_config;
    listener::AddressSource m_source;
    CStringListEx m_allow;
    CAccessListEditor m_editor;
    std::vector<std::string> m_addresses;
    std::string m_storedInterface; // as the file had it: kept even where it is no IPv4 address
};
