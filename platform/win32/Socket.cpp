#include "platform/Socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <cctype>
#include <climits>
#include <cstring>

namespace platform {
namespace win32 {

// Windows Sockets must be started before the first call of any of its functions, name services
// included. The program starts it at most once for the whole run, from whichever thread asks
// first (a function-local static is initialised once even when threads race), and never cleans
// it up: the process ends with it. The other adapters that ask the name services (host identity,
// adapter list) call this too. 0 or the error of WSAStartup.
int StartWindowsSockets() {
    static const int result = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return result;
}

} // namespace win32

namespace {

sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    sa.sin_port = htons(port);
    return sa;
}

SOCKET Native(SocketHandle handle) {
    return static_cast<SOCKET>(handle);
}

// One part of a dotted address as the C library reads numbers: 0x for hexadecimal, a leading 0
// for octal, decimal otherwise. Stops at the first character that is no digit of the base, as
// strtoul does; false when the value leaves 32 bits.
bool ReadPart(const char*& text, std::uint32_t& value) {
    unsigned base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
        std::isxdigit(static_cast<unsigned char>(text[2]))) {
        base = 16;
        text += 2;
    } else if (text[0] == '0') {
        base = 8;
    }
    std::uint64_t total = 0;
    for (;; ++text) {
        const char c = *text;
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            break;
        if (digit >= base)
            break;
        total = total * base + digit;
        if (total > 0xFFFFFFFFu)
            return false;
    }
    value = static_cast<std::uint32_t>(total);
    return true;
}

} // namespace

int OpenSocket(SocketType type, SocketHandle& handle) {
    handle = kNoSocket;
    if (const int error = win32::StartWindowsSockets())
        return error;
    const SOCKET s = ::socket(AF_INET, type == SocketType::Stream ? SOCK_STREAM : SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET)
        return ::WSAGetLastError();
    // A started process (the relaunch, service scripts) must not inherit it.
    (void)::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    handle = static_cast<SocketHandle>(s);
    return 0;
}

int BindSocket(SocketHandle handle, std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa = MakeAddress(address, port);
    if (::bind(Native(handle), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0)
        return ::WSAGetLastError();
    return 0;
}

int LocalPort(SocketHandle handle, std::uint16_t& port) {
    sockaddr_in sa;
    int length = sizeof sa;
    if (::getsockname(Native(handle), reinterpret_cast<sockaddr*>(&sa), &length) != 0)
        return ::WSAGetLastError();
    if (sa.sin_family != AF_INET)
        return WSAEAFNOSUPPORT;
    port = ntohs(sa.sin_port);
    return 0;
}

int SendDatagram(SocketHandle handle, const void* data, std::size_t length, std::uint32_t address,
                 std::uint16_t port, int flags, std::size_t& sent) {
    sent = 0;
    // The two flags of the interface are the system's own values here.
    if ((flags & ~(MSG_OOB | MSG_DONTROUTE)) != 0)
        return WSAEOPNOTSUPP;
    if (length > static_cast<std::size_t>(INT_MAX))
        return WSAEMSGSIZE;
    sockaddr_in sa = MakeAddress(address, port);
    const int n = ::sendto(Native(handle), static_cast<const char*>(data), static_cast<int>(length),
                           flags, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    if (n == SOCKET_ERROR)
        return ::WSAGetLastError();
    sent = static_cast<std::size_t>(n);
    return 0;
}

int ReceiveDatagram(SocketHandle handle, void* buffer, std::size_t size, int timeoutMs,
                    std::size_t& received) {
    received = 0;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Native(handle), &readable);
    // A negative timeout waits without limit, as poll does on the other systems.
    timeval limit;
    limit.tv_sec = timeoutMs / 1000;
    limit.tv_usec = (timeoutMs % 1000) * 1000;
    // The first argument is ignored by Windows Sockets.
    const int ready = ::select(0, &readable, nullptr, nullptr, timeoutMs < 0 ? nullptr : &limit);
    if (ready == SOCKET_ERROR)
        return ::WSAGetLastError();
    if (ready == 0)
        return WSAETIMEDOUT;
    const int capacity =
        size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    const int n = ::recv(Native(handle), static_cast<char*>(buffer), capacity, 0);
    if (n == SOCKET_ERROR) {
        // A datagram longer than the buffer fills it and reports this; the rest is dropped, as
        // the interface promises.
        if (::WSAGetLastError() == WSAEMSGSIZE) {
            received = static_cast<std::size_t>(capacity);
            return 0;
        }
        return ::WSAGetLastError();
    }
    received = static_cast<std::size_t>(n);
    return 0;
}

int CloseSocket(SocketHandle handle) {
    if (::closesocket(Native(handle)) != 0)
        return ::WSAGetLastError();
    return 0;
}

// The classic parser's rules, done here rather than with inet_addr: inet_addr answers
// INADDR_NONE both for an error and for the broadcast address in any of its spellings
// ("255.255.255.255", "0xffffffff", "4294967295"), and its handling of trailing text has changed
// between releases. Up to four parts; the last one fills all the bytes left (a.b.c takes c as
// 16 bits, a.b takes b as 24 bits, a alone is the whole address); white space ends the text.
bool ParseIpv4(const char* text, std::uint32_t& address) {
    if (text == nullptr)
        return false;
    static constexpr std::uint32_t kLastPartLimit[4] = {0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};
    std::uint32_t bytes = 0;
    int parts = 0;
    std::uint32_t value = 0;
    for (;;) {
        if (!std::isdigit(static_cast<unsigned char>(*text)))
            return false;
        if (!ReadPart(text, value))
            return false;
        if (*text != '.')
            break;
        if (parts == 3 || value > 0xFF)
            return false;
        bytes |= value << (24 - 8 * parts);
        ++parts;
        ++text;
    }
    const unsigned char end = static_cast<unsigned char>(*text);
    if (end != '\0' && !(end < 0x80 && std::isspace(end)))
        return false;
    if (value > kLastPartLimit[parts])
        return false;
    address = bytes | value;
    return true;
}

bool ResolveIpv4(const char* name, std::uint32_t& address) {
    if (name == nullptr || *name == '\0' || win32::StartWindowsSockets() != 0)
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
