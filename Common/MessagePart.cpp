#include "Common/MessagePart.h"

#include "Common/Ansi.h"
#include "Common/DiagLog.h"
#include "Common/TextFile.h"

#include <new>

namespace {

// The source name the suite's log lines carry for this module; the services log under the
// same name, so the lines look alike whoever wrote them.
constexpr const char* kSource = "Common\\MessagePart";

// The parameter value after key (found in the lower-cased copy, taken from the original so that
// a boundary keeps its letter case): up to the next ";" or the end, blanks and one pair of
// surrounding double quotes removed. Empty when key does not occur.
std::string ParameterValue(std::string_view value, std::string_view lower, std::string_view key) {
    const std::size_t at = lower.find(key);
    if (at == std::string_view::npos)
        return {};
    std::string_view text = value.substr(at + key.size());
    text = textfile::Trim(text.substr(0, text.find(';')));
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    return std::string(text);
}

} // namespace

namespace message {

std::string WithCrlfLineEnds(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += c;
        if (c == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))
            out += '\n';
    }
    return out;
}

std::string NormalizedBody(std::string_view text) {
    std::string withoutNul;
    withoutNul.reserve(text.size());
    for (char c : text)
        if (c != '\0')
            withoutNul += c;
    const std::string crlf = WithCrlfLineEnds(withoutNul);

    // A line of a single dot gets a second one wherever it stands. The first line counts too:
    // in the file and in a transfer it follows the empty line after the headers, so it ends
    // the data just like any later one would; so does a last line without a line end, once a
    // sender closes the body with its own line end and dot.
    std::string out;
    out.reserve(crlf.size() + 16);
    std::size_t start = 0;
    while (start < crlf.size()) {
        std::size_t end = crlf.find("\r\n", start);
        const std::size_t next = end == std::string::npos ? crlf.size() : end + 2;
        if (end == std::string::npos)
            end = crlf.size();
        if (end - start == 1 && crlf[start] == '.')
            out += '.';
        out.append(crlf, start, next - start);
        start = next;
    }
    return out;
}

} // namespace message

bool CMessagePart::SetHeaderField(std::string_view name, std::string_view value) {
    if (ansi::EqualNoCase(name, "Content-Type")) {
        SetContentType(value);
    } else if (ansi::EqualNoCase(name, "Content-Transfer-Encoding")) {
        m_contentTransferEncoding = value;
    } else if (ansi::EqualNoCase(name, "Content-Language")) {
        m_contentLanguage = value;
    } else if (ansi::EqualNoCase(name, "Content-Disposition")) {
        m_contentDisposition = value;
    } else if (ansi::EqualNoCase(name, "Content-Description")) {
        m_contentDescription = value;
    } else {
        std::string line;
        line.reserve(name.size() + 2 + value.size());
        line.append(name).append(": ").append(value);
        m_headerLines.AddTail(line);
    }
    return true;
}

void CMessagePart::SetContentType(std::string_view value) {
    m_contentType = value;
    // The parameters always describe the value just stored, never an earlier one.
    m_boundary.clear();
    m_name.clear();
    m_charset.clear();
    const std::string lower = ansi::ToLower(value);
    if (lower.find("multipart") != std::string::npos) {
        m_boundary = ParameterValue(value, lower, "boundary=");
    } else {
        m_name = ParameterValue(value, lower, "name=");
        m_charset = ParameterValue(value, lower, "charset=");
    }
}

bool CMessagePart::NormalizeBody() {
    try {
        m_body = message::NormalizedBody(m_body);
        return true;
    } catch (const std::bad_alloc&) {
        DiagLog().LogError("insufficient memory in %s:%d", kSource, __LINE__);
        return false;
    }
}

bool CMessagePart::SetBody(const char* bytes, std::size_t length) {
    if (length == 0) {
        std::string().swap(m_body); // an empty body holds no buffer
        return true;
    }
    try {
        std::string copy(bytes, length);
        m_body.swap(copy);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}
