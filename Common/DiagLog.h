// The process-wide diagnostic log. Library code reports internal errors (severity 3) and
// trace lines (severity 7) here; each line leaves the process as one syslog datagram to the
// local host. Nothing is shown to the user and nothing is written to a file.
#pragma once

#include <cstdarg>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

// Where log lines go. The log only ever calls Write.
class CLogSender {
public:
    virtual ~CLogSender() = default;
    // Sends one line; never fails outwardly.
    virtual void Write(int severity, const char* text) = 0;
};

// Sends each line as one UDP datagram "<%d> [%04X] %s: %s" (priority, thread id, tag, text),
// cut at 512 bytes, through a socket made for that line alone.
class CSyslogSender : public CLogSender {
public:
    CSyslogSender(std::string tag, int facility, std::string host, int port);
    void Write(int severity, const char* text) override;

private:
    std::string m_tag;
    int m_facility; // already shifted: facility code * 8
    std::string m_host;
    int m_port;
};

class CDiagLog {
public:
    explicit CDiagLog(std::unique_ptr<CLogSender> sender);

    // printf-style; the line is cut at 1023 characters. Without a sender both do nothing.
    void LogError(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void LogAt(int severity, const char* format, ...) __attribute__((format(printf, 3, 4)));

    // Replaces the sender and returns the previous one (tests catch the lines this way).
    std::unique_ptr<CLogSender> ReplaceSender(std::unique_ptr<CLogSender> sender);

private:
    void Send(int severity, const char* format, va_list arguments);

    // Lines are sent under a shared lock so that ReplaceSender never destroys a sender that
    // another thread is still writing through; the senders themselves need no lock. Readers
    // pass the turnstile on their way in, so a replacement waiting there is not starved by a
    // steady stream of lines.
    std::mutex m_turnstile;
    std::shared_mutex m_lock;
    std::unique_ptr<CLogSender> m_sender;
};

// The one log of the process: tag "Quibrel", facility daemon (24), 127.0.0.1 port 514. It is
// made on first use and never destroyed, so destructors of other static objects may still log.
CDiagLog& DiagLog();
