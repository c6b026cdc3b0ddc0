#include "platform/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

// The Windows Sockets numbers are 10000 plus the classic BSD errno values; Linux numbers most
// of these differently, so each one is mapped by name.
int WsaError(int error) {
    switch (error) {
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
    case EPERM: // a firewall rule refusing the datagram
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
    case ENFILE:
        return 10024;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EAGAIN:
        return 10035;
    case EINPROGRESS:
        return 10036;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    case ECONNRESET:
        return 10054;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
    case EPIPE: // sending on a stream that was shut down or never connected
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    default:
        return error;
    }
}

int LastError() {
    return WsaError(errno);
}

sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    sa.sin_port = htons(port);
    return sa;
}

} // namespace

int OpenSocket(SocketType type, SocketHandle& handle) {
    // Close-on-exec: a started process (the relaunch, service scripts) must not inherit it.
    int kind = (type == SocketType::Stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC;
    handle = ::socket(AF_INET, kind, 0);
    if (handle < 0) {
        handle = kNoSocket;
        return LastError();
    }
    return 0;
}

int BindSocket(SocketHandle handle, std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa = MakeAddress(address, port);
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0)
        return LastError();
    return 0;
}

int LocalPort(SocketHandle handle, std::uint16_t& port) {
    sockaddr_in sa;
    socklen_t length = sizeof sa;
    if (::getsockname(handle, reinterpret_cast<sockaddr*>(&sa), &length) != 0)
        return LastError();
    if (sa.sin_family != AF_INET)
        return 10047;
    port = ntohs(sa.sin_port);
    return 0;
}

int SendDatagram(SocketHandle handle, const void* data, std::size_t length, std::uint32_t address,
                 std::uint16_t port, int flags, std::size_t& sent) {
    sent = 0;
    constexpr int kOutOfBand = 1, kDoNotRoute = 4;
    if ((flags & ~(kOutOfBand | kDoNotRoute)) != 0)
        return 10045;
    // A send on a broken stream must come back as an error, not end the process with SIGPIPE.
    int systemFlags = MSG_NOSIGNAL;
    if (flags & kOutOfBand)
        systemFlags |= MSG_OOB;
    if (flags & kDoNotRoute)
        systemFlags |= MSG_DONTROUTE;
    sockaddr_in sa = MakeAddress(address, port);
    ssize_t n;
    do {
        n = ::sendto(handle, data, length, systemFlags, reinterpret_cast<const sockaddr*>(&sa),
                     sizeof sa);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return LastError();
    sent = static_cast<std::size_t>(n);
    return 0;
}

int ReceiveDatagram(SocketHandle handle, void* buffer, std::size_t size, int timeoutMs,
                    std::size_t& received) {
    received = 0;
    pollfd p{handle, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0)
        return LastError();
    if (ready == 0)
        return 10060;
    ssize_t n = ::recv(handle, buffer, size, 0);
    if (n < 0)
        return LastError();
    received = static_cast<std::size_t>(n);
    return 0;
}

int CloseSocket(SocketHandle handle) {
    // No retry on EINTR: the descriptor is released either way on Linux, and a second close
    // could hit a descriptor another thread has opened meanwhile.
    if (::close(handle) != 0 && errno != EINTR)
        return LastError();
    return 0;
}

bool ParseIpv4(const char* text, std::uint32_t& address) {
    in_addr parsed;
    if (text == nullptr || ::inet_aton(text, &parsed) == 0)
        return false;
    address = ntohl(parsed.s_addr);
    return true;
}

bool ResolveIpv4(const char* name, std::uint32_t& address) {
    if (name == nullptr || *name == '\0')
        return false;
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0)
        return false;
    bool ok = false;
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addr != nullptr &&
            a->ai_addrlen >= sizeof(sockaddr_in)) {
            address = ntohl(reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr);
            ok = true;
            break;
        }
    }
    ::freeaddrinfo(found);
    return ok;
}

} // namespace platform
