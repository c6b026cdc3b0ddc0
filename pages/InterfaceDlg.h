// The network interface dialog: one address, TCP port and SSL/TLS switch a service listens on,
// and AddLocalAddresses, which offers the machine's own IPv4 addresses for choice (also on the
// Syslog page).
#pragma once

#include "pages/FieldModel.h"
#include "pages/Help.h"
#include "platform/NetworkInterfaces.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace listener {

// What stands for all local addresses on screen.
inline constexpr const char* kAllAddresses = "<alle>";

// Where the machine's addresses come from: the system unless a test gives its own.
using AddressSource = std::function<platform::LocalAddresses()>;

// Whether text is an IPv4 address in dotted notation: four decimal parts of 0 to 255.
bool IsDottedIPv4(std::string_view text);
// Why a typed address is none a service could listen on (the German text, Windows-1252), or
// nothing for "<alle>" in any letter case and dotted IPv4. Whether "*" or an address kept from
// the file passes as well is the caller's rule.
std::optional<std::string> AddressRefusal(std::string_view address);

} // namespace listener

// Appends the machine's IPv4 addresses to list, in the order the system reports them. When the
// query fails, the message of its outcome (160 to 164) is shown and the list keeps what it had;
// where the system cannot list interfaces, the addresses of the host name are offered instead,
// without a message.
void AddLocalAddresses(std::vector<std::string>& list, CPrompter& prompter,
                       const listener::AddressSource& source = platform::QueryLocalAddresses);
// What an address field offers: "<alle>" and the machine's addresses, sorted.
std::vector<std::string> OfferedAddresses(CPrompter& prompter,
                                          const listener::AddressSource& source);

class CInterfaceDlg : public CDialogModel {
public:
    static constexpr const char* kAddress = "address";
    static constexpr const char* kPort = "port";
    static constexpr const char* kSsl = "ssl";

    explicit CInterfaceDlg(long port = 0,
                           listener::AddressSource source = platform::QueryLocalAddresses);

    const char* Caption() const override { return "Netzwerkschnittstelle"; }
    const char* FormName() const override { return "InterfaceDlg"; }
    unsigned HelpContext() const override { return help::resource::kInterfaceDlg; }
    std::span<const CFieldSpec> Fields() const override;
    std::vector<std::string> Suggestions(std::string_view fieldId) const override;

    // "<alle>" and the machine's addresses, sorted; a failed query says so here.
    void OnOpen(CPrompter& prompter) override;
    // Refuses what no service could listen on: a port outside 0..65535 or an address that is
    // neither "<alle>", "*" nor dotted IPv4.
    bool OnOk(CPrompter& prompter) override;

    const std::string& Address() const { return Value(kAddress); }
    long Port() const { return Number(kPort); }
    bool Ssl() const { return Value(kSsl) == "1"; }
    void Set(std::string_view address, long port, bool ssl);
    // The same for an entry of the file that is edited: its address is kept as it is even if
    // it is not one the dialog would take when typed (a host name written by hand).
    void Edit(std::string_view address, long port, bool ssl);

private:
    listener::AddressSource m_source;
    std::vector<std::string> m_addresses;
    std::optional<std::string> m_storedAddress; // the address of the entry being edited
};
