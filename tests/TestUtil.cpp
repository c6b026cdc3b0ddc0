#include "tests/TestUtil.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <sys/mount.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace testutil {

#ifdef _WIN32
// Windows has no file system a test could mount, fill and make read-only: the tests that need
// one skip there, as they do on Linux without root.
ScratchMount::ScratchMount(const std::string& where, const char*) : m_where(where) {
    std::filesystem::create_directory(where);
}
ScratchMount::~ScratchMount() = default;
bool ScratchMount::MakeReadOnly() {
    return false;
}
#else
ScratchMount::ScratchMount(const std::string& where, const char* options) : m_where(where) {
    std::filesystem::create_directory(where);
    m_mounted = ::geteuid() == 0 && ::mount("tmpfs", where.c_str(), "tmpfs", 0, options) == 0;
}

ScratchMount::~ScratchMount() {
    if (m_mounted)
        ::umount2(m_where.c_str(), MNT_DETACH);
}

bool ScratchMount::MakeReadOnly() {
    return ::mount("tmpfs", m_where.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}
#endif

TempDir::TempDir() {
    // A new name each try; create_directory refuses one that exists, so two test processes
    // never share a folder.
    static std::mt19937_64 random{std::random_device{}()};
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "korvane-test-%08llx",
                      static_cast<unsigned long long>(random() & 0xFFFFFFFFu));
        const auto path = base / name;
        std::error_code ec;
        if (std::filesystem::create_directory(path, ec)) {
            m_path = path.string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only folders behind; make them writable so they can go.
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(m_path, ec);
}

void LetChangesArrive() {
    if (kWindows)
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

bool CanMakeLinks() {
    static const bool can = [] {
        const TempDir dir;
        std::error_code ec;
        WriteBytes(dir / "target", "x");
        std::filesystem::create_symlink(dir / "target", dir / "link", ec);
        return !ec && std::filesystem::is_symlink(dir / "link", ec);
    }();
    return can;
}

#ifdef _WIN32
void SetReadableByAll(const std::string& path, bool readable) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        throw std::runtime_error("no process token");
    alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    const bool known = GetTokenInformation(token, TokenUser, user, sizeof user, &size);
    CloseHandle(token);
    if (!known)
        throw std::runtime_error("no user of the process");
    PSID sid = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD everyoneSize = sizeof everyone;
    alignas(ACL) BYTE list[sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)];
    auto* acl = reinterpret_cast<ACL*>(list);
    if (!InitializeAcl(acl, sizeof list, ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) ||
        (readable && (!CreateWellKnownSid(WinWorldSid, nullptr, everyone, &everyoneSize) ||
                      !AddAccessAllowedAce(acl, ACL_REVISION, FILE_GENERIC_READ, everyone))))
        throw std::runtime_error("no access list");
    // A protected list: nothing inherited from the folder stays beside it. (SetFileSecurityW,
    // because wine applies the list to the file's mode bits only through it.)
    SECURITY_DESCRIPTOR descriptor;
    std::wstring wide(path.begin(), path.end());
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED) ||
        !SetFileSecurityW(wide.c_str(), DACL_SECURITY_INFORMATION, &descriptor))
        throw std::runtime_error("cannot set the access list of " + path);
}
#else
void SetReadableByAll(const std::string& path, bool readable) {
    using std::filesystem::perms;
    std::filesystem::permissions(
        path, perms::owner_read | perms::owner_write |
                  (readable ? perms::group_read | perms::others_read : perms::none));
}
#endif

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot write " + path);
    out << bytes;
}

std::size_t StandinRestarts(const std::string& folder, const std::string& service) {
    std::ifstream in(folder + "/" + service + ".restarts");
    std::size_t lines = 0;
    for (std::string line; std::getline(in, line);)
        ++lines;
    return lines;
}

void StopStandins([[maybe_unused]] const std::string& folder) {
#ifndef _WIN32 // the stand-ins exist on POSIX only
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".pid")
            continue;
        std::ifstream in(entry.path());
        long pid = 0;
        if (in >> pid && pid > 1)
            ::kill(static_cast<pid_t>(pid), SIGTERM);
    }
#endif
}

std::string Crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

UdpReceiver::UdpReceiver(int port) {
    if (platform::OpenSocket(platform::SocketType::Datagram, m_handle) != 0)
        return;
    std::uint16_t bound = 0;
    if (platform::BindSocket(m_handle, platform::kLoopbackAddress,
                             static_cast<std::uint16_t>(port)) == 0 &&
        platform::LocalPort(m_handle, bound) == 0)
        m_port = bound;
}

UdpReceiver::~UdpReceiver() {
    if (m_handle != platform::kNoSocket)
        platform::CloseSocket(m_handle);
}

std::optional<std::string> UdpReceiver::Receive(int timeoutMs) {
    char buffer[2048];
    std::size_t n = 0;
    if (platform::ReceiveDatagram(m_handle, buffer, sizeof buffer, timeoutMs, n) != 0)
        return std::nullopt;
    return std::string(buffer, n);
}

struct CapturedLog::Sink : CLogSender {
    std::vector<std::pair<int, std::string>> lines;
    void Write(int severity, const char* text) override { lines.emplace_back(severity, text); }
};

CapturedLog::CapturedLog() {
    auto sink = std::make_unique<Sink>();
    m_sink = sink.get();
    m_previous = DiagLog().ReplaceSender(std::move(sink));
}

CapturedLog::~CapturedLog() {
    DiagLog().ReplaceSender(std::move(m_previous));
}

const std::vector<std::pair<int, std::string>>& CapturedLog::lines() const {
    return m_sink->lines;
}

std::vector<std::string> CapturedLog::texts() const {
    std::vector<std::string> out;
    for (const auto& line : m_sink->lines)
        out.push_back(line.second);
    return out;
}

} // namespace testutil
