// The blocking socket class of the storage library, as far as the diagnostic log needs it:
// an IPv4 socket that is created, bound, sends datagrams and is closed.
#pragma once

#include "platform/Socket.h"

#include <exception>

// A socket failure, carrying its Windows Sockets error number. Thrown by value and caught by
// reference: the object is small and copying it never throws, so nobody has to own and delete a
// heap-allocated exception.
class CSocketException : public std::exception {
public:
    explicit CSocketException(int errorCode);

    int GetErrorCode() const { return m_errorCode; }

    // Clears buffer, then copies the text for the code into it, at most size - 1 bytes, so the
    // result is always terminated. Returns true; false only when there is no room at all
    // (null buffer or size 0).
    bool GetErrorMessage(char* buffer, unsigned size) const;

    const char* what() const noexcept override { return m_text; }

private:
    int m_errorCode;
    char m_text[128]; // the longest table text and any "unknown error: <code>" fit
};

class CSyncSocketEx {
public:
    // The socket types, numbered as the Windows Sockets SOCK_ constants.
    enum { Stream = 1, Datagram = 2 };

    CSyncSocketEx() = default;
    ~CSyncSocketEx();
    CSyncSocketEx(const CSyncSocketEx&) = delete;
    CSyncSocketEx& operator=(const CSyncSocketEx&) = delete;

    // Creates an IPv4 socket of socketType and binds it to localAddress (null or empty: any
    // local address; otherwise a dotted address or a host name, whose first address is taken)
    // and localPort (0: any free port). Returns false when the bind fails; the socket is then
    // released again, so Create may be called anew. Throws CSocketException: 10048 when a
    // socket is held already, 11001 when localAddress cannot be resolved, the system's error
    // when no socket can be made.
    bool Create(int localPort = 0, int socketType = Stream, const char* localAddress = nullptr);

    // Sends one datagram to host (a dotted address or a host name, first address; null: the
    // broadcast address 255.255.255.255, which the system refuses with 10013 unless the socket
    // may broadcast) and port, and returns the number of bytes sent. Throws CSocketException:
    // 10022 when host cannot be resolved, the system's error when the send fails.
    int SendTo(const void* data, int length, int port, const char* host, int flags = 0);

    // Closes the socket if one is held; returns whether one was.
    bool Close();

    bool IsOpen() const { return m_handle != platform::kNoSocket; }

    // Seconds a blocking operation may wait; the datagram operations here do not wait.
    int GetTimeout() const { return m_timeout; }
    void SetTimeout(int seconds) { m_timeout = seconds; }

private:
    platform::SocketHandle m_handle = platform::kNoSocket;
    int m_timeout = 120;
};
