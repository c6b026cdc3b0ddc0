// IPv4 socket services for the blocking socket class of the storage library, implemented in
// posix/Socket.cpp and, with Windows Sockets, in win32/Socket.cpp.
//
// Every operation that can fail returns 0 on success or a Windows Sockets error number
// (10048 for an address in use, 10013 for a refused broadcast...), so that the socket class and
// its error texts are the same on every platform. A system error without such a number is
// passed on as the system's own code, which is always below 10000.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

#ifdef _WIN32
using SocketHandle = std::uintptr_t; // SOCKET
inline constexpr SocketHandle kNoSocket = ~SocketHandle{0};
#else
using SocketHandle = int;
inline constexpr SocketHandle kNoSocket = -1;
#endif

enum class SocketType { Stream, Datagram };

// IPv4 addresses are passed in host byte order: 127.0.0.1 is 0x7F000001.
inline constexpr std::uint32_t kAnyAddress = 0;
inline constexpr std::uint32_t kLoopbackAddress = 0x7F000001;
inline constexpr std::uint32_t kBroadcastAddress = 0xFFFFFFFF;

// Creates an IPv4 socket of the given type; handle is kNoSocket on failure.
int OpenSocket(SocketType type, SocketHandle& handle);

// Binds to a local address and port (port 0: any free port).
int BindSocket(SocketHandle handle, std::uint32_t address, std::uint16_t port);

// The local port the socket is bound to.
int LocalPort(SocketHandle handle, std::uint16_t& port);

// Sends one datagram; sent receives the number of bytes the system took. flags are the
// Windows Sockets send flags (1 out-of-band, 4 do not route).
int SendDatagram(SocketHandle handle, const void* data, std::size_t length, std::uint32_t address,
                 std::uint16_t port, int flags, std::size_t& sent);

// Waits at most timeoutMs milliseconds for one datagram and receives it into buffer; a longer
// datagram is cut to size. 10060 when nothing arrived in time.
int ReceiveDatagram(SocketHandle handle, void* buffer, std::size_t size, int timeoutMs,
                    std::size_t& received);

int CloseSocket(SocketHandle handle);

// A dotted IPv4 address ("127.0.0.1", also the short and hexadecimal forms the classic
// parsers accept). False when text is not one; no name service is asked.
bool ParseIpv4(const char* text, std::uint32_t& address);

// The first IPv4 address the name service gives for name. False when there is none.
bool ResolveIpv4(const char* name, std::uint32_t& address);

} // namespace platform
