#include "platform/HostIdentity.h"

// The same calls on both systems (Windows Sockets has them too); only the headers differ, and
// Windows wants its sockets started first.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace platform {

#ifdef _WIN32
namespace win32 {
int StartWindowsSockets(); // win32/Socket.cpp
} // namespace win32
#endif

HostIdentity QueryHostIdentity() {
    HostIdentity identity{"unknown", "0.0.0.0"};
#ifdef _WIN32
    if (win32::StartWindowsSockets() != 0)
        return identity;
#endif
    // 256 bytes, as the suite has always asked; a name that fills the buffer comes without its
    // terminator, so the last byte is set by hand. (On Windows the name is in the ANSI code page.)
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return identity;
    name[sizeof name - 1] = '\0';
    identity.name = name;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM; // one entry per address instead of one per socket type
    hints.ai_flags = AI_CANONNAME;
    addrinfo* result = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &result) != 0 || !result)
        return identity;
    if (result->ai_canonname && *result->ai_canonname)
        identity.name = result->ai_canonname;
    for (const addrinfo* entry = result; entry; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || !entry->ai_addr)
            continue;
        char dotted[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
        if (inet_ntop(AF_INET, &address->sin_addr, dotted, sizeof dotted))
            identity.address = dotted;
        break;
    }
    freeaddrinfo(result);
    return identity;
}

} // namespace platform
