#include "Common/SyncSocket.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

struct ErrorText {
    int code;
    const char* text;
};

// Texts callers see for the Windows Sockets error numbers; anything else is reported by number.
constexpr ErrorText kErrorTexts[] = {
    {10004, "the (blocking) call was canceled using WSACancelBlockingCall"},
    {10009, "the descriptor is not a socket"},
    {10013, "the requested address is a broadcast address, but the appropriate flag was not set"},
    {10014, "the buf argument is not in a valid part of the user address space or the "
            "nSockAddrLen argument is incorrect"},
    {10022, "the socket has not been bound to an address"},
    {10024, "no more file descriptors are available"},
    {10035, "the socket is marked as nonblocking and the requested operation would block"},
    {10036, "a blocking Windows Sockets call is in progress"},
    {10038, "the descriptor is not a socket"},
    {10039, "a destination address is required"},
    {10040, "the datagram is larger than the maximum supported by the Windows Sockets "
            "implementation"},
    {10041, "the specified port is the wrong type for this socket"},
    {10042, "the specified option is not supported by the used protocol"},
    {10043, "the specified port is not supported"},
    {10044, "the specified socket type is not supported in this address family"},
    {10045, "MSG_OOB was specified, but the socket is not of type SOCK_STREAM"},
    {10046, "protocol in the specified family cannot be used with this socket"},
    {10047, "addresses in the specified family cannot be used with this socket"},
    {10048, "the specified address is already in use"},
    {10049, "the specified address is not available from the local machine"},
    {10050, "the network subsystem failed or has been blocked"},
    {10051, "the network cannot be reached from this host at this time"},
    {10052, "the connection must be reset because the Windows Sockets implementation dropped it"},
    {10053, "the connection was aborted due to timeout or other failure"},
    {10054, "the connection was reset by the remote side"},
    {10055, "the Windows Sockets implementation reports a buffer deadlock"},
    {10056, "the socket is already connected"},
    {10057, "the socket is not connected"},
    {10058, "the socket has been shut down"},
    {10060, "the attempt to connect timed out without establishing a connection"},
    {10061, "the attempt to connect was rejected"},
    {10065, "the host cannot be reached from this host at this time"},
    {10091, "the network subsystem is unusable"},
    {10092, "the Windows Sockets DLL does not support this application"},
    {10093, "the winsock API has not been initialised correctly"},
    {10101, "the message terminated gracefully"},
    {11001, "the host was not found"},
};

// The Windows Sockets numbers the socket class raises itself.
constexpr int kBadAddress = 10014;       // no data for a non-zero length
constexpr int kInvalidArgument = 10022;  // destination host cannot be resolved
constexpr int kNotSocket = 10038;        // no socket held
constexpr int kTypeNotSupported = 10044; // neither stream nor datagram
constexpr int kAlreadyCreated = 10048;
constexpr int kAddressNotAvailable = 10049; // destination port out of range
constexpr int kHostNotFound = 11001;        // local address cannot be resolved

// A dotted address or, failing that, the first address the name service gives.
bool LookUp(const char* name, std::uint32_t& address) {
    return platform::ParseIpv4(name, address) || platform::ResolveIpv4(name, address);
}

} // namespace

CSocketException::CSocketException(int errorCode) : m_errorCode(errorCode) {
    GetErrorMessage(m_text, sizeof m_text);
}

bool CSocketException::GetErrorMessage(char* buffer, unsigned size) const {
    // With no room at all, size - 1 would wrap around to a huge copy length.
    if (buffer == nullptr || size == 0)
        return false;
    std::memset(buffer, 0, size);
    for (const ErrorText& entry : kErrorTexts) {
        if (entry.code == m_errorCode) {
            std::size_t length = std::strlen(entry.text);
            std::memcpy(buffer, entry.text, length < size ? length : size - 1);
            return true;
        }
    }
    std::snprintf(buffer, size, "unknown error: %d", m_errorCode);
    return true;
}

CSyncSocketEx::~CSyncSocketEx() {
    Close();
}

bool CSyncSocketEx::Create(int localPort, int socketType, const char* localAddress) {
    if (IsOpen())
        throw CSocketException(kAlreadyCreated);

    platform::SocketType type;
    if (socketType == Stream)
        type = platform::SocketType::Stream;
    else if (socketType == Datagram)
        type = platform::SocketType::Datagram;
    else
        throw CSocketException(kTypeNotSupported);

    // The address is looked up before the socket exists, so a failed look-up leaves nothing
    // behind.
    std::uint32_t address = platform::kAnyAddress;
    if (localAddress != nullptr && *localAddress != '\0' && !LookUp(localAddress, address))
        throw CSocketException(kHostNotFound);

    platform::SocketHandle handle;
    if (int error = platform::OpenSocket(type, handle))
        throw CSocketException(error);

    // A socket that could not be bound is of no use; holding on to it would only make the next
    // Create fail with "already in use".
    if (localPort < 0 || localPort > 0xFFFF ||
        platform::BindSocket(handle, address, static_cast<std::uint16_t>(localPort)) != 0) {
        platform::CloseSocket(handle);
        return false;
    }
    m_handle = handle;
    return true;
}

int CSyncSocketEx::SendTo(const void* data, int length, int port, const char* host, int flags) {
    if (!IsOpen())
        throw CSocketException(kNotSocket);
    if (length < 0 || (data == nullptr && length > 0))
        throw CSocketException(kBadAddress);
    if (port < 0 || port > 0xFFFF)
        throw CSocketException(kAddressNotAvailable);

    std::uint32_t address = platform::kBroadcastAddress;
    if (host != nullptr && !LookUp(host, address))
        throw CSocketException(kInvalidArgument);

    std::size_t sent = 0;
    if (int error = platform::SendDatagram(m_handle, data, static_cast<std::size_t>(length),
                                           address, static_cast<std::uint16_t>(port), flags, sent))
        throw CSocketException(error);
    return static_cast<int>(sent);
}

bool CSyncSocketEx::Close() {
    if (!IsOpen())
        return false;
    platform::CloseSocket(m_handle);
    m_handle = platform::kNoSocket;
    return true;
}
