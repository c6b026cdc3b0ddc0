#include "Common/DiagLog.h"

#include "Common/SyncSocket.h"
#include "platform/Thread.h"

#include <cstdio>
#include <utility>

namespace {

constexpr int kErrorSeverity = 3;
constexpr std::size_t kLineSize = 1024;    // a line holds at most 1023 characters
constexpr std::size_t kDatagramSize = 512; // what a syslog receiver is sure to accept

} // namespace

CSyslogSender::CSyslogSender(std::string tag, int facility, std::string host, int port)
    : m_tag(std::move(tag)), m_facility(facility), m_host(std::move(host)), m_port(port) {}

void CSyslogSender::Write(int severity, const char* text) {
    // Logging must never disturb the caller: every socket failure (sockets not ready yet, no
    // route, nobody listening) simply loses the line.
    try {
        CSyncSocketEx socket;
        if (!socket.Create(0, CSyncSocketEx::Datagram, nullptr))
            return;
        // One byte more than is sent, for the terminator: a cut datagram then still carries
        // its full 512 bytes of text rather than ending in a zero byte.
        char datagram[kDatagramSize + 1];
        int length =
            std::snprintf(datagram, sizeof datagram, "<%d> [%04lX] %s: %s", severity | m_facility,
                          platform::CurrentThreadId(), m_tag.c_str(), text != nullptr ? text : "");
        if (length < 0)
            return;
        if (static_cast<std::size_t>(length) > kDatagramSize)
            length = static_cast<int>(kDatagramSize);
        socket.SendTo(datagram, length, m_port, m_host.c_str(), 0);
        // The socket closes when it goes out of scope, on this path and every other.
    } catch (const CSocketException&) {
    }
}

CDiagLog::CDiagLog(std::unique_ptr<CLogSender> sender) : m_sender(std::move(sender)) {}

void CDiagLog::Send(int severity, const char* format, va_list arguments) {
    if (format == nullptr)
        return;
    std::shared_lock<std::shared_mutex> lock;
    {
        std::lock_guard turn(m_turnstile);
        lock = std::shared_lock(m_lock);
    }
    if (!m_sender)
        return;
    char line[kLineSize];
    line[0] = '\0';
    std::vsnprintf(line, sizeof line, format, arguments);
    line[sizeof line - 1] = '\0'; // also after an encoding error, which may leave it unfinished
    m_sender->Write(severity, line);
}

void CDiagLog::LogError(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    Send(kErrorSeverity, format, arguments);
    va_end(arguments);
}

void CDiagLog::LogAt(int severity, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    Send(severity, format, arguments);
    va_end(arguments);
}

std::unique_ptr<CLogSender> CDiagLog::ReplaceSender(std::unique_ptr<CLogSender> sender) {
    std::lock_guard turn(m_turnstile);
    std::unique_lock lock(m_lock);
    std::swap(m_sender, sender);
    return sender;
}

CDiagLog& DiagLog() {
    static CDiagLog* const log =
        new CDiagLog(std::make_unique<CSyslogSender>("Quibrel", 24, "127.0.0.1", 514));
    return *log;
}
