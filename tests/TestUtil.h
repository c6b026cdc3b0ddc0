// Helpers shared by the tests: temporary directories, raw file bytes, captured log lines.
#pragma once

#include "Common/DiagLog.h"

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
