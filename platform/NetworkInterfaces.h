// The machine's own IPv4 addresses, for the drop-down lists in which the user picks the address
// a service listens on. The query keeps the outcome classes the pages have always told the user
// about, so the same messages appear whatever the system's source of addresses is.
#pragma once

#include <string>
#include <vector>

namespace platform {

enum class AddressQueryOutcome {
    Success,          // addresses holds every IPv4 address of every interface, in order
    InvalidParameter, // the query was refused outright
    NoData,           // the machine reports no interface information at all
    HostNameFallback, // the system cannot list interfaces; addresses holds those of the host name
    NotSupported,     // the listing broke off after it had begun
    BufferTooSmall,   // the answer did not fit where it was asked for
    OutOfMemory,      // no memory for the answer
};

struct LocalAddresses {
    AddressQueryOutcome outcome = AddressQueryOutcome::NoData;
    std::vector<std::string> addresses; // dotted IPv4, duplicates kept
};

// Asks the system for the IPv4 addresses of its interfaces.
LocalAddresses QueryLocalAddresses();

} // namespace platform
