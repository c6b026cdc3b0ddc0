#include "pages/PageSyslog.h"

#include "Common/Ansi.h"
#include "app/Strings.h"

#include <algorithm>
#include <array>

namespace {

using P = CPageConfigSyslog;

constexpr int kAddressLimit = 15;
constexpr const char* kDefaultAllow = "127.0.0.1/255.255.255.255";

constexpr std::array<CFieldSpec, 4> kFields{{
    {.id = P::kInterface,
     .type = FieldType::Text,
     .label = "&IP:",
     .row = 0,
     .maxLength = kAddressLimit,
     .key = "Interface",
     .defaultValue = listener::kAllAddresses},
    {.id = P::kPort,
     .type = FieldType::Number,
     .label = "&Port:",
     .row = 1,
     .minimum = 0,
     .maximum = 65535,
     .arrowMinimum = 0,
     .arrowMaximum = 32767,
     .key = "Port",
     .defaultValue = "514"},
    {.id = P::kAllowAddress,
     .type = FieldType::Text,
     .label = "",
     .row = 2,
     .maxLength = kAddressLimit,
     .flags = kFieldImmediate},
    {.id = P::kAllowMask,
     .type = FieldType::Text,
     .label = "",
     .row = 3,
     .maxLength = kAddressLimit,
     .flags = kFieldImmediate},
}};

constexpr std::array<CCommandSpec, 2> kCommands{{
    {.id = P::kAllowAdd, .label = ">"},
    {.id = P::kAllowRemove,
     .label = "<",
     .places = kPlaceButton | kPlaceDeleteKey,
     .listId = P::kAllowList},
}};

constexpr std::array<CListSpec, 1> kLists{{{.id = P::kAllowList, .kind = CListSpec::Kind::List}}};

} // namespace

CPageConfigSyslog::CPageConfigSyslog(CConfigSet& config, listener::AddressSource addresses)
    : m_config(config), m_source(std::move(addresses)),
      m_editor({.address = kAllowAddress,
                .mask = kAllowMask,
                .list = kAllowList,
                .add = kAllowAdd,
                .remove = kAllowRemove},
               m_allow) {
    const CConfigMap& file = m_config.syslogd;
    const CFieldSpec& interfaceField = kFields[0];
    const CFieldSpec& portField = kFields[1];
    m_storedInterface = file.GetString(interfaceField.key, interfaceField.defaultValue);
    SetValue(kInterface, m_storedInterface);
    SetNumber(kPort, file.GetInt(portField.key, std::atoi(portField.defaultValue)));
    file.GetList("AllowAccess", m_allow, kDefaultAllow);
    m_editor.rows().Refill();
    CPageConfigSyslog::UpdateStates();
}

std::span<const CFieldSpec> CPageConfigSyslog::Fields() const {
    return kFields;
}

std::span<const CCommandSpec> CPageConfigSyslog::Commands() const {
    return kCommands;
}

std::span<const CListSpec> CPageConfigSyslog::Lists() const {
    return kLists;
}

CRowModel* CPageConfigSyslog::RowsOf(std::string_view listId) {
    return listId == kAllowList ? &m_editor.rows() : nullptr;
}

std::vector<std::string> CPageConfigSyslog::Suggestions(std::string_view fieldId) const {
    return fieldId == kInterface ? m_addresses : std::vector<std::string>{};
}

void CPageConfigSyslog::OnFirstShow(CPrompter& prompter) {
    m_addresses = OfferedAddresses(prompter, m_source);
}

void CPageConfigSyslog::OnCommand(std::string_view commandId, CPrompter& prompter) {
    const bool changed = commandId == kAllowAdd      ? m_editor.Add(*this, prompter)
                         : commandId == kAllowRemove ? m_editor.Remove(*this)
                                                     : false;
    if (changed)
        SetModified();
}

void CPageConfigSyslog::OnFieldEdited(std::string_view id) {
    // A new access entry being typed changes nothing until ">" adds it.
    if (id == kInterface || id == kPort)
        SetModified();
}

void CPageConfigSyslog::UpdateStates() {
    m_editor.UpdateStates(*this);
}

bool CPageConfigSyslog::OnApply(CPrompter& prompter) {
    if (!OnStage(prompter))
        return false;
    LockCancel();
    return true;
}

bool CPageConfigSyslog::OnStage(CPrompter& prompter) {
    const std::string& address = Value(kInterface);
    const bool all = ansi::EqualNoCase(address, listener::kAllAddresses);
    // The service could not open its socket on anything but an IPv4 address; what the file
    // already held is written back as it was.
    if (!all && !address.empty() && address != m_storedInterface &&
        !listener::IsDottedIPv4(address)) {
        prompter.ShowText(strings::Literal("Die IP-Adresse \"%s\" ist ungültig. Bitte wählen Sie "
                                           "<alle> oder geben Sie eine IPv4-Adresse in der Form "
                                           "192.168.0.1 ein.",
                                           address),
                          MessageKind::Warning);
        return false;
    }
    CConfigMap& file = m_config.syslogd;
    file.SetString("Interface", all ? std::string() : address);
    file.SetUInt("Port", static_cast<unsigned>(Number(kPort)));
    file.SetList("AllowAccess", m_allow);
    return true;
}

std::optional<std::string> CPageConfigSyslog::ShowKey(std::string_view file, std::string_view key,
                                                      CPrompter&) {
    if (!ansi::EqualNoCase(file, "syslogd.cfg"))
        return std::nullopt;
    if (ansi::EqualNoCase(key, "AllowAccess"))
        return std::string(kAllowList);
    const char* field = FieldOfKey(key);
    return field ? std::optional<std::string>(field) : std::nullopt;
}
