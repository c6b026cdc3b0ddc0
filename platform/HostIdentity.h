// Who this machine is on the network: the name the postmaster and host-name checks of the
// domains page compare with the local domains.
#pragma once

#include <string>

namespace platform {

// The host's DNS name and its first IPv4 address in dotted form. Always filled: what cannot be
// found out is "unknown" (the name, when even the plain host name is not to be had) or
// "0.0.0.0" (the address).
struct HostIdentity {
    std::string name;
    std::string address;
};

// The host name as the system reports it, resolved to its canonical (fully qualified) name;
// the plain host name when the resolution fails.
HostIdentity QueryHostIdentity();

} // namespace platform
