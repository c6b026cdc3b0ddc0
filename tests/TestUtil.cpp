#include "tests/TestUtil.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/types.h>
#include <unistd.h>

namespace testutil {

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

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvane-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
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

void StopStandins(const std::string& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".pid")
            continue;
        std::ifstream in(entry.path());
        long pid = 0;
        if (in >> pid && pid > 1)
            ::kill(static_cast<pid_t>(pid), SIGTERM);
    }
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
