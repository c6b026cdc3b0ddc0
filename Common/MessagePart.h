// One part of a mail message as the suite's servers store it: the content headers, the header
// lines nobody interprets, and the body. CMessage and CMail (Message.h) build on it.
#pragma once

#include "Common/StringList.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace message {

// Every line end of text as CR LF: a CR without LF gets one after it, an LF without CR one
// before it; a CR LF stays.
std::string WithCrlfLineEnds(std::string_view text);

// The body as the message files hold it: every line end of text as CR LF (as above), and every
// line that is a single "." doubled, so that the body can go into an SMTP transfer, where a
// line of one dot ends the data, without being cut short. The first and the last line too: the
// first follows the empty line after the headers, and a last line without a line end gets one
// when a sender closes the data, so a lone "." there ends the mail early just as one in the
// middle would. (The dialog shows such a line as ".." when it is opened again, wherever it
// stands.) NUL bytes are dropped.
std::string NormalizedBody(std::string_view text);

} // namespace message

class CMessagePart {
public:
    CMessagePart() = default;
    virtual ~CMessagePart() = default;

    // Takes one header line (name and value already trimmed). Names compare without regard to
    // letter case; every class handles its own names and hands the others to its base. Here:
    // the content headers, and any other line goes to the other header lines as "name: value".
    // Always true.
    virtual bool SetHeaderField(std::string_view name, std::string_view value);

    // Stores the Content-Type value and takes its parameters: the boundary of a multipart type,
    // otherwise the name and the charset (each in its own letter case, quotes removed).
    void SetContentType(std::string_view value);

    // Brings the body into the form of the message files (see message::NormalizedBody). False,
    // with a diagnostic line and the body unchanged, when the new body cannot be allocated.
    bool NormalizeBody();

    // Replaces the body with a copy of length bytes; the old body stays when the copy cannot be
    // allocated (the result then is false).
    bool SetBody(const char* bytes, std::size_t length);
    bool SetBody(std::string_view bytes) { return SetBody(bytes.data(), bytes.size()); }

    const std::string& GetContentType() const { return m_contentType; }
    const std::string& GetBoundary() const { return m_boundary; }
    const std::string& GetCharset() const { return m_charset; }
    const std::string& GetName() const { return m_name; }
    const std::string& GetContentTransferEncoding() const { return m_contentTransferEncoding; }
    const std::string& GetContentLanguage() const { return m_contentLanguage; }
    const std::string& GetContentDisposition() const { return m_contentDisposition; }
    const std::string& GetContentDescription() const { return m_contentDescription; }
    // Each as "name: value", in the order read.
    const CStringListEx& GetHeaderLines() const { return m_headerLines; }
    // The body bytes; they may hold any byte, NUL included when set through SetBody.
    const std::string& GetBody() const { return m_body; }
    std::size_t GetBodyLength() const { return m_body.size(); }

protected:
    std::string m_contentType;
    std::string m_boundary;
    std::string m_charset;
    std::string m_name;
    std::string m_contentTransferEncoding;
    std::string m_contentLanguage;
    std::string m_contentDisposition;
    std::string m_contentDescription;
    CStringListEx m_headerLines;
    std::string m_body;
};
