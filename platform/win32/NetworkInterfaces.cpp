#include "platform/NetworkInterfaces.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>
#include <windows.h>

#include <cstring>
#include <new>
#include <vector>

namespace platform {
namespace win32 {
int StartWindowsSockets(); // Socket.cpp
} // namespace win32

namespace {

// Where the system cannot list interfaces, the addresses the host's own name resolves to.
LocalAddresses FromHostName() {
    LocalAddresses result{AddressQueryOutcome::HostNameFallback, {}};
    if (win32::StartWindowsSockets() != 0)
        return result;
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return result;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM; // one entry per address, not one per socket type
    addrinfo* list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) != 0 || !list)
        return result;
    for (const addrinfo* entry = list; entry; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || !entry->ai_addr)
            continue;
        char dotted[INET_ADDRSTRLEN] = {};
        auto* in = reinterpret_cast<sockaddr_in*>(entry->ai_addr);
        result.addresses.push_back(inet_ntop(AF_INET, &in->sin_addr, dotted, sizeof dotted)
                                       ? std::string(dotted)
                                       : std::string("0.0.0.0"));
    }
    freeaddrinfo(list);
    return result;
}

// The outcome class of an answer of the adapter query other than success.
AddressQueryOutcome OutcomeOf(DWORD error) {
    switch (error) {
    case ERROR_INVALID_PARAMETER:
        return AddressQueryOutcome::InvalidParameter;
    case ERROR_NOT_SUPPORTED:
        return AddressQueryOutcome::NotSupported;
    case ERROR_BUFFER_OVERFLOW:
        return AddressQueryOutcome::BufferTooSmall;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return AddressQueryOutcome::OutOfMemory;
    default: // ERROR_NO_DATA, and whatever else leaves us without a list
        return AddressQueryOutcome::NoData;
    }
}

} // namespace

LocalAddresses QueryLocalAddresses() {
    // First the size alone. Its usual answer is "buffer too small" with the size filled in; "not
    // supported" here means the system has no adapter list at all, and the host name stands in.
    ULONG size = 0;
    const DWORD sizing = GetAdaptersInfo(nullptr, &size);
    switch (sizing) {
    case ERROR_NOT_SUPPORTED:
        return FromHostName();
    case ERROR_INVALID_PARAMETER:
    case ERROR_NO_DATA:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return {OutcomeOf(sizing), {}};
    default:
        break;
    }
    if (size == 0)
        return {AddressQueryOutcome::NoData, {}};

    // The list holds pointers into itself: a buffer of whole adapter records keeps them aligned.
    std::vector<IP_ADAPTER_INFO> buffer;
    try {
        buffer.resize((size + sizeof(IP_ADAPTER_INFO) - 1) / sizeof(IP_ADAPTER_INFO));
    } catch (const std::bad_alloc&) {
        return {AddressQueryOutcome::OutOfMemory, {}};
    }
    // A second "too small" means an adapter came up between the two calls; it is reported as
    // such rather than asked again, so the user learns of it as before.
    const DWORD listing = GetAdaptersInfo(buffer.data(), &size);
    if (listing != ERROR_SUCCESS)
        return {OutcomeOf(listing), {}};

    LocalAddresses result{AddressQueryOutcome::Success, {}};
    try {
        for (const IP_ADAPTER_INFO* adapter = buffer.data(); adapter; adapter = adapter->Next) {
            // An adapter without an address lists "0.0.0.0"; it is kept, as are duplicates.
            for (const IP_ADDR_STRING* entry = &adapter->IpAddressList; entry;
                 entry = entry->Next) {
                const char* text = entry->IpAddress.String;
                result.addresses.emplace_back(text, strnlen(text, sizeof entry->IpAddress.String));
            }
        }
    } catch (const std::bad_alloc&) {
        return {AddressQueryOutcome::OutOfMemory, {}};
    }
    if (result.addresses.empty())
        result.outcome = AddressQueryOutcome::NoData;
    return result;
}

} // namespace platform
