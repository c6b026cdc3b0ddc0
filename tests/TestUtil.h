// Helpers shared by the tests: temporary directories, raw file bytes, captured log lines.
#pragma once

#include "Common/DiagLog.h"
#include "platform/Socket.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testutil {

// A fresh directory under the system's temporary directory, removed with everything in it
// when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
// Every line break of text ("\n") as CR LF: golden texts read better with plain "\n".
std::string Crlf(const std::string& text);

// The stand-in services started in a supervisor folder: the restart requests one has had so
// far, and the end of them all (each ends on SIGTERM and takes its pid file along).
std::size_t StandinRestarts(const std::string& folder, const std::string& service);
void StopStandins(const std::string& folder);

// A small tmpfs of our own, so that a test can fill it or make it read-only without touching
// the machine's file systems. Only root may mount; the tests skip otherwise.
class ScratchMount {
public:
    ScratchMount(const std::string& where, const char* options);
    ~ScratchMount();
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;
    bool mounted() const { return m_mounted; }
    bool MakeReadOnly();

private:
    std::string m_where;
    bool m_mounted = false;
};

// A real datagram receiver on 127.0.0.1, on a free port or on the one asked for.
class UdpReceiver {
public:
    explicit UdpReceiver(int port = 0);
    ~UdpReceiver();
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;
    bool ok() const { return m_port != 0; }
    int port() const { return m_port; }
    // The next datagram, or nothing when none arrives in time.
    std::optional<std::string> Receive(int timeoutMs = 2000);

private:
    platform::SocketHandle m_handle = platform::kNoSocket;
    int m_port = 0;
};

// Catches what the process-wide diagnostic log sends while the object lives.
class CapturedLog {
public:
    CapturedLog();
    ~CapturedLog();
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;
    const std::vector<std::pair<int, std::string>>& lines() const;
    std::vector<std::string> texts() const;

private:
    struct Sink;
    Sink* m_sink;
    std::unique_ptr<CLogSender> m_previous;
};

} // namespace testutil
