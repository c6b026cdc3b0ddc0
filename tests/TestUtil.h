// Helpers shared by the tests: temporary directories, raw file bytes, captured log lines.
#pragma once

#include "Common/DiagLog.h"
#include "platform/FileSystem.h"
#include "platform/Socket.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

// Skips a test of something only POSIX has (the supervisor folder and its stand-in service,
// systemd, shell scripts, mode bits) when it runs on Windows, saying why. The adapters Windows
// has instead are tested in tests/platform/win32.
#ifdef _WIN32
#define KORVANE_POSIX_ONLY(reason) GTEST_SKIP() << "POSIX only: " << (reason)
#else
#define KORVANE_POSIX_ONLY(reason) static_cast<void>(0)
#endif

#ifdef _WIN32
#include <cstdlib>
// The tests set and clear variables as on POSIX; the C runtime's _putenv_s changes the process's
// environment block too, where the program under test reads it, and an empty value removes one.
inline int setenv(const char* name, const char* value, int) {
    return _putenv_s(name, value);
}
inline int unsetenv(const char* name) {
    return _putenv_s(name, "");
}
#endif

// Skips a test whose point is a symbolic link where none can be made: Windows gives the right
// to make one only to administrators or in developer mode, and wine 8 makes none at all.
#define KORVANE_NEEDS_LINKS()                                                                      \
    if (!testutil::CanMakeLinks())                                                                 \
    GTEST_SKIP() << "no symbolic links can be made here"

namespace testutil {

// Waits until a change just made in a watched folder has reached the watch. Linux queues it
// before the call that made it returns; wine reports it a moment later.
void LetChangesArrive();

// Whether this system lets the tests make symbolic links (tried once).
bool CanMakeLinks();

#ifdef _WIN32
inline constexpr bool kWindows = true;
#else
inline constexpr bool kWindows = false;
#endif
// Whether files have POSIX mode bits (0600, 0644...) a save must keep; Windows files have none.
inline constexpr bool kFilesHaveModes = !kWindows;

// A fresh directory under the system's temporary directory, removed with everything in it
// when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    // The path of name in the folder, joined as the program joins paths (with "\\" on Windows).
    std::string operator/(const std::string& name) const {
        return m_path + platform::kPathSeparator + name;
    }

private:
    std::string m_path;
};

// Leaves the file at path readable and writable by its owner and, when readable, readable by
// every user too: mode 0600 or 0644, or on Windows an access list that names the current user
// and, when readable, Everyone.
void SetReadableByAll(const std::string& path, bool readable);

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
