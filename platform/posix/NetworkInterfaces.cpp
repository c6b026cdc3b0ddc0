#include "platform/NetworkInterfaces.h"

#include <arpa/inet.h>
#include <cerrno>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <new>

namespace platform {
namespace {

std::string Dotted(const sockaddr* address) {
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(address);
    return inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) ? std::string(text)
                                                                  : std::string("0.0.0.0");
}

// Where interfaces cannot be listed, the addresses the host's own name resolves to.
LocalAddresses FromHostName() {
    LocalAddresses result{AddressQueryOutcome::HostNameFallback, {}};
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return result;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM; // one entry per address, not one per socket type
    addrinfo* list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) != 0 || !list)
        return result;
    for (const addrinfo* entry = list; entry; entry = entry->ai_next)
        if (entry->ai_family == AF_INET && entry->ai_addr)
            result.addresses.push_back(Dotted(entry->ai_addr));
    freeaddrinfo(list);
    return result;
}

} // namespace

LocalAddresses QueryLocalAddresses() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        switch (errno) {
        case ENOMEM:
            return {AddressQueryOutcome::OutOfMemory, {}};
        case ENOSYS:
        case EOPNOTSUPP:
        case EAFNOSUPPORT:
            return FromHostName();
        default:
            return {AddressQueryOutcome::NoData, {}};
        }
    }
    LocalAddresses result{AddressQueryOutcome::Success, {}};
    try {
        for (const ifaddrs* entry = list; entry; entry = entry->ifa_next)
            if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET)
                result.addresses.push_back(Dotted(entry->ifa_addr));
    } catch (const std::bad_alloc&) {
        result = {AddressQueryOutcome::OutOfMemory, {}};
    }
    freeifaddrs(list);
    if (result.outcome == AddressQueryOutcome::Success && result.addresses.empty())
        result.outcome = AddressQueryOutcome::NoData;
    return result;
}

} // namespace platform
