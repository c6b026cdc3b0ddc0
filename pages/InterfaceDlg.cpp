#include "pages/InterfaceDlg.h"

#include "Common/Ansi.h"
#include "app/Strings.h"

#include <algorithm>
#include <array>

namespace {

constexpr int kAddressLimit = 15; // the longest dotted IPv4 address

constexpr std::array<CFieldSpec, 3> kFields{{
    {.id = CInterfaceDlg::kAddress,
     .type = FieldType::Text,
     .label = "&IP-Adresse:",
     .row = 0,
     .maxLength = kAddressLimit},
    {.id = CInterfaceDlg::kPort,
     .type = FieldType::Number,
     .label = "&TCP-Anschluss:",
     .row = 1,
     .minimum = 0,
     .maximum = 65535,
     .arrowMinimum = 0,
     .arrowMaximum = 32767},
    {.id = CInterfaceDlg::kSsl, .type = FieldType::Check, .label = "SSL/TLS", .row = 2},
}};

} // namespace

namespace listener {

bool IsDottedIPv4(std::string_view text) {
    int parts = 0;
    std::size_t at = 0;
    while (true) {
        std::size_t end = at;
        long value = 0;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9' && end - at < 3)
            value = value * 10 + (text[end++] - '0');
        if (end == at || value > 255)
            return false;
        ++parts;
        if (end == text.size())
            return parts == 4;
        if (text[end] != '.' || parts == 4)
            return false;
        at = end + 1;
    }
}

std::optional<std::string> AddressRefusal(std::string_view address) {
    if (ansi::EqualNoCase(address, kAllAddresses) || IsDottedIPv4(address))
        return std::nullopt;
    return strings::Literal("Die IP-Adresse \"%s\" ist ungültig. Bitte wählen Sie <alle> oder "
                            "geben Sie eine IPv4-Adresse in der Form 192.168.0.1 ein.",
                            address);
}

} // namespace listener

void AddLocalAddresses(std::vector<std::string>& list, CPrompter& prompter,
                       const listener::AddressSource& source) {
    using Outcome = platform::AddressQueryOutcome;
    const platform::LocalAddresses found = source ? source() : platform::LocalAddresses{};
    unsigned message = 0;
    switch (found.outcome) {
    case Outcome::Success:
    case Outcome::HostNameFallback:
        list.insert(list.end(), found.addresses.begin(), found.addresses.end());
        return;
    case Outcome::InvalidParameter:
        message = 160;
        break;
    case Outcome::NoData:
        message = 161;
        break;
    case Outcome::NotSupported:
        message = 162;
        break;
    case Outcome::BufferTooSmall:
        message = 163;
        break;
    case Outcome::OutOfMemory:
        message = 164;
        break;
    }
    prompter.Show(message, MessageKind::Plain);
}

CInterfaceDlg::CInterfaceDlg(long port, listener::AddressSource source)
    : m_source(std::move(source)) {
    Set(listener::kAllAddresses, port, false);
}

std::span<const CFieldSpec> CInterfaceDlg::Fields() const {
    return kFields;
}

void CInterfaceDlg::Set(std::string_view address, long port, bool ssl) {
    SetValue(kAddress, std::string(address));
    SetNumber(kPort, port);
    SetValue(kSsl, ssl ? "1" : "0");
}

void CInterfaceDlg::Edit(std::string_view address, long port, bool ssl) {
    Set(address, port, ssl);
    m_storedAddress = address;
}

std::vector<std::string> CInterfaceDlg::Suggestions(std::string_view fieldId) const {
    return fieldId == kAddress ? m_addresses : std::vector<std::string>{};
}

std::vector<std::string> OfferedAddresses(CPrompter& prompter,
                                          const listener::AddressSource& source) {
    std::vector<std::string> addresses{listener::kAllAddresses};
    AddLocalAddresses(addresses, prompter, source);
    std::sort(addresses.begin(), addresses.end());
    return addresses;
}

void CInterfaceDlg::OnOpen(CPrompter& prompter) {
    m_addresses = OfferedAddresses(prompter, m_source);
}

bool CInterfaceDlg::OnOk(CPrompter& prompter) {
    // The view checks the port as the user types it; a value given otherwise is held to the
    // same range, since a port the services cannot open would stop them from starting.
    if (auto refusal = Refusal(*FindField(kPort), Value(kPort))) {
        prompter.ShowText(*refusal, MessageKind::Warning);
        return false;
    }
    const std::string& address = Value(kAddress);
    // An entry from the file that is edited keeps its address as it was, whatever it is.
    if (address == "*" || (m_storedAddress && address == *m_storedAddress))
        return true;
    if (auto refusal = listener::AddressRefusal(address)) {
        prompter.ShowText(*refusal, MessageKind::Warning);
        return false;
    }
    return true;
}
