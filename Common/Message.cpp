#include "Common/Message.h"

#include "Common/Ansi.h"
#include "Common/DiagLog.h"
#include "Common/TextFile.h"
#include "platform/FileLock.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <system_error>
#include <utility>

namespace {

// The source name the suite's log lines carry for this module; the services log under the
// same name, so the lines look alike whoever wrote them.
constexpr const char* kSource = "Common\\Message";

// Message files may be read by services running under their own accounts.
constexpr unsigned kMessageFileMode = 0644;

bool Is(std::string_view name, std::string_view wanted) {
    return ansi::EqualNoCase(name, wanted);
}

template <std::size_t N> bool IsAnyOf(std::string_view name, const char* const (&wanted)[N]) {
    for (const char* w : wanted)
        if (Is(name, w))
            return true;
    return false;
}

bool IsLineBlank(char c) {
    return c == ' ' || c == '\t';
}

// The address in a header value: what stands in the first pair of angle brackets ("" for the
// null sender "<>"), otherwise the first word, so that a trailing comment such as "(Jane)"
// stays out.
std::string AddressIn(std::string_view value) {
    value = textfile::Trim(value);
    const std::size_t open = value.find('<');
    if (open != std::string_view::npos) {
        const std::size_t close = value.find('>', open + 1);
        if (close != std::string_view::npos)
            return std::string(textfile::Trim(value.substr(open + 1, close - open - 1)));
    }
    std::size_t end = 0;
    while (end < value.size() && !textfile::IsBlank(value[end]))
        ++end;
    return std::string(value.substr(0, end));
}

// A header whose value is stored as it stands, or as the bare address it holds.
template <class Message> struct StoredHeader {
    const char* name;
    std::string Message::*field;
    bool address;
};

// Stores value into the field of the table's row for name; false when no row names it.
template <class Message, std::size_t N>
bool StoreHeader(Message& message, const StoredHeader<Message> (&table)[N], std::string_view name,
                 std::string_view value) {
    for (const StoredHeader<Message>& row : table) {
        if (Is(name, row.name)) {
            message.*row.field = row.address ? AddressIn(value) : std::string(value);
            return true;
        }
    }
    return false;
}

// The last blank-separated word of a value.
std::string_view LastWord(std::string_view value) {
    value = textfile::Trim(value);
    std::size_t start = value.size();
    while (start > 0 && !textfile::IsBlank(value[start - 1]))
        --start;
    return value.substr(start);
}

// A header line as it goes into the file. A line break inside a value must continue the
// header: followed by anything but a blank or a tab it would start a header of its own, and an
// empty line would end the header block and push the rest into the body. Such a break is
// written as CR LF and a tab, the way the reader joins continuation lines, so the value reads
// back as it was stored; values read from a file already have that form and stay unchanged.
std::string FoldedHeaderLine(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c != '\r' && c != '\n') {
            out += c;
            continue;
        }
        if (c == '\r' && i + 1 < line.size() && line[i + 1] == '\n')
            ++i;
        out += "\r\n";
        if (i + 1 == line.size() || !IsLineBlank(line[i + 1]))
            out += '\t';
    }
    return out;
}

// The suite's file-exception cause for a system error.
int FileErrorCause(int systemError) {
    switch (static_cast<std::errc>(systemError)) {
    case std::errc::no_such_file_or_directory:
        return 2;
    case std::errc::not_a_directory:
    case std::errc::filename_too_long:
        return 3;
    case std::errc::too_many_files_open:
    case std::errc::too_many_files_open_in_system:
        return 4;
    case std::errc::permission_denied:
    case std::errc::operation_not_permitted:
    case std::errc::read_only_file_system:
    case std::errc::is_a_directory:
        return 5;
    case std::errc::io_error:
        return 10;
    case std::errc::no_space_on_device:
    case std::errc::file_too_large:
        return 13;
    default:
        return 1;
    }
}

void ReportFileError(CFileError* error, int systemError) {
    if (error != nullptr) {
        error->cause = FileErrorCause(systemError);
        error->systemError = systemError;
    }
}

} // namespace

namespace message {

std::string FormatDate(const platform::LocalTime& time) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int weekday = time.weekday >= 0 && time.weekday < 7 ? time.weekday : 0;
    const int month = time.month >= 1 && time.month <= 12 ? time.month : 1;
    const int offset = std::abs(time.utcOffsetMinutes);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s, %d %s %d %02d:%02d:%02d %c%02d%02d", kDays[weekday],
                  time.day, kMonths[month - 1], time.year, time.hour, time.minute, time.second,
                  time.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return buffer;
}

std::string LockNameFor(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    std::string_view base = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = base.rfind('.');
    if (dot != std::string_view::npos)
        base = base.substr(0, dot);
    return std::string(base);
}

} // namespace message

CMessage::CMessage()
    : m_creationTime(platform::CurrentTime()),
      m_date(message::FormatDate(platform::ToLocalTime(m_creationTime))),
      m_lockDirectory(platform::kLockDirectory) {}

void CMessage::SetLocking(std::string lockDirectory, std::chrono::milliseconds limit) {
    m_lockDirectory = std::move(lockDirectory);
    m_lockLimit = limit;
}

bool CMessage::SetHeaderField(std::string_view name, std::string_view value) {
    static const StoredHeader<CMessage> kStored[] = {
        {"Organization", &CMessage::m_organization, false},
        {"Subject", &CMessage::m_subject, false},
        {"Date", &CMessage::m_date, false},
        {"MIME-Version", &CMessage::m_mimeVersion, false},
        {"References", &CMessage::m_references, false},
    };
    if (Is(name, "Message-ID")) {
        const std::size_t open = value.find('<');
        const std::size_t close = value.rfind('>');
        if (open != std::string_view::npos && close != std::string_view::npos && close > open)
            value = value.substr(open + 1, close - open - 1);
        m_messageId = value;
    } else if (Is(name, "From")) {
        ParseFrom(value);
    } else if (!StoreHeader(*this, kStored, name, value)) {
        return CMessagePart::SetHeaderField(name, value);
    }
    return true;
}

void CMessage::ParseFrom(std::string_view text) {
    const std::size_t open = text.find('<');
    const std::size_t close = text.rfind('>');
    // Brackets count only in their order: in "a > b <c" there is no bracketed address.
    if (open != std::string_view::npos && close != std::string_view::npos && close > open) {
        m_fromAddress = text.substr(open + 1, close - open - 1);
        const std::size_t firstQuote = text.find('"');
        const std::size_t lastQuote = text.rfind('"');
        if (firstQuote != std::string_view::npos && lastQuote != firstQuote)
            m_fromName = text.substr(firstQuote + 1, lastQuote - firstQuote - 1);
        else
            m_fromName = textfile::TrimRight(text.substr(0, open));
        return;
    }
    // The display name always comes from the same value as the address, never from an
    // earlier From.
    m_fromName.clear();
    std::size_t blank = 0;
    while (blank < text.size() && !textfile::IsBlank(text[blank]))
        ++blank;
    m_fromAddress = text.substr(0, blank);
    if (blank == text.size())
        return;
    const std::size_t paren = text.find('(');
    const std::size_t endParen = text.rfind(')');
    if (paren != std::string_view::npos && endParen != std::string_view::npos && endParen > paren)
        m_fromName = text.substr(paren + 1, endParen - paren - 1);
}

bool CMessage::ReadFrom(std::string_view file, int flags) {
    try {
        std::size_t position = 0;
        // The next line without its LF (a CR before it goes with the trimming); false at the
        // end of the file.
        auto readLine = [&](std::string_view& line) {
            if (position >= file.size())
                return false;
            std::size_t end = file.find('\n', position);
            if (end == std::string_view::npos)
                end = file.size();
            line = file.substr(position, end - position);
            position = end + 1;
            return true;
        };

        bool handledOne = false;
        std::string_view raw;
        while (readLine(raw)) {
            const std::string_view trimmed = textfile::Trim(raw);
            if (trimmed.empty())
                break;
            std::string line(trimmed);
            while (position < file.size() && IsLineBlank(file[position])) {
                readLine(raw);
                line += "\r\n\t";
                line += textfile::Trim(raw);
            }
            const std::size_t colon = line.find(':');
            if (colon == std::string::npos)
                continue;
            const std::string_view unfolded(line);
            SetHeaderField(textfile::Trim(unfolded.substr(0, colon)),
                           textfile::Trim(unfolded.substr(colon + 1)));
            handledOne = true;
        }
        if (flags != 0)
            return true;

        // Without a single header the file is not a message but plain text: all of it is the
        // body.
        const std::string_view body =
            handledOne ? file.substr(std::min(position, file.size())) : file;
        try {
            std::string copy(body);
            m_body.swap(copy);
        } catch (const std::bad_alloc&) {
            DiagLog().LogError("insufficient memory in %s:%d", kSource, __LINE__);
            return false;
        }
        return NormalizeBody();
    } catch (const std::bad_alloc&) {
        DiagLog().LogError("CMemoryException in %s:%d", kSource, __LINE__);
        return false;
    }
}

bool CMessage::WriteTo(std::string& file, int flags) const {
    try {
        CStringListEx lines;
        WriteHeaders(lines, flags);
        std::string text;
        for (auto position = lines.GetHeadPosition(); position;) {
            text += FoldedHeaderLine(lines.GetNext(position));
            text += "\r\n";
        }
        text += "\r\n";
        // The body's line ends become CR LF here as well: a body handed over with LF line
        // ends, as text from an edit field may be, must still give a file of CR LF lines.
        std::string body = message::WithCrlfLineEnds(m_body);
        constexpr std::string_view kEndMark = "\r\n.\r\n";
        if (body.ends_with(kEndMark))
            body.resize(body.size() - kEndMark.size());
        text += body;
        file += text;
        return true;
    } catch (const std::bad_alloc&) {
        DiagLog().LogError("CMemoryException in %s:%d", kSource, __LINE__);
        return false;
    }
}

bool CMessage::Load(const std::string& path, CFileError* error, int flags) {
    platform::FileLock lock(m_lockDirectory);
    if (!lock.Acquire(message::LockNameFor(path), m_lockLimit))
        return false;
    std::string content;
    try {
        if (!platform::ReadWholeFile(path, content)) {
            ReportFileError(error, errno);
            return false;
        }
    } catch (const std::bad_alloc&) {
        DiagLog().LogError("CMemoryException in %s:%d", kSource, __LINE__);
        return false;
    }
    // The bytes are ours now; the servers need not wait while we parse them.
    lock.Release();
    if (content.size() <= 2)
        return false;
    // A read that ran out of memory left the message incomplete: that is a failed load.
    return ReadFrom(content, flags);
}

bool CMessage::Save(const std::string& path, int flags, CFileError* error) const {
    // The text is complete before the lock is taken, so a server waits only for the write.
    std::string text;
    if (!WriteTo(text, flags))
        return false;
    platform::FileLock lock(m_lockDirectory);
    if (!lock.Acquire(message::LockNameFor(path), m_lockLimit)) {
        DiagLog().LogError("CMutex::Lock failed in %s:%d, error=%d", kSource, __LINE__,
                           lock.LastError());
        return false;
    }
    // Message files live in account folders, where mail arrives from outside: a link planted
    // there is replaced, never written through.
    if (!platform::ReplaceFileAtomic(path, text, kMessageFileMode)) {
        const int systemError = errno;
        ReportFileError(error, systemError);
        DiagLog().LogError("CFileException in %s:%d, cause=%d error=%d", kSource, __LINE__,
                           FileErrorCause(systemError), systemError);
        return false;
    }
    return true;
}

void CMail::TakeEnvelopeSender(std::string address) {
    m_returnPath = address;
    if (m_fromAddress.empty())
        m_fromAddress = address;
    m_envelopeFrom = std::move(address);
}

void CMail::AddRecipient(std::string address) {
    // A value without an address ("<>", or nothing) names no recipient.
    if (!address.empty())
        m_envelopeTo.AddTail(address);
}

bool CMail::SetHeaderField(std::string_view name, std::string_view value) {
    static const char* const kEnvelopeFrom[] = {"X-Envelope-From", "Envelope-From"};
    static const char* const kEnvelopeTo[] = {"X-Envelope-To", "Envelope-To"};
    static const char* const kFallbackTo[] = {"X-Delivered-To", "X-Original-To", "X-Rcpt-To",
                                              "X-Real-To", "X-Receiver"};
    static const StoredHeader<CMail> kStored[] = {
        {"Return-Path", &CMail::m_returnPath, true},
        {"To", &CMail::m_to, false},
        {"Cc", &CMail::m_cc, false},
        {"Bcc", &CMail::m_bcc, false},
        {"Return-Receipt-To", &CMail::m_returnReceiptTo, true},
        {"Disposition-Notification-To", &CMail::m_dispositionNotificationTo, true},
        {"Reply-To", &CMail::m_replyTo, true},
        {"In-Reply-To", &CMail::m_inReplyTo, false},
        {"Precedence", &CMail::m_precedence, false},
        {"X-Authenticated-As", &CMail::m_authenticatedAs, false},
        {"X-Resent-For", &CMail::m_resentFor, false},
    };
    if (IsAnyOf(name, kEnvelopeFrom)) {
        TakeEnvelopeSender(AddressIn(value));
    } else if (Is(name, "X-Sender")) {
        if (m_envelopeFrom.empty())
            TakeEnvelopeSender(AddressIn(value));
    } else if (IsAnyOf(name, kEnvelopeTo)) {
        AddRecipient(AddressIn(value));
    } else if (IsAnyOf(name, kFallbackTo)) {
        if (m_envelopeTo.IsEmpty())
            AddRecipient(AddressIn(value));
    } else if (Is(name, "Delivered-To")) {
        if (m_envelopeTo.IsEmpty())
            AddRecipient(AddressIn(LastWord(value)));
    } else if (Is(name, "Received")) {
        m_received.AddTail(value);
    } else if (!StoreHeader(*this, kStored, name, value)) {
        return CMessage::SetHeaderField(name, value);
    }
    return true;
}

void CMail::WriteHeaders(CStringListEx& lines, int kind) const {
    // A field that is empty gives no line.
    auto plain = [&lines](std::string_view label, std::string_view value) {
        if (!value.empty())
            lines.AddTail(std::string(label).append(value));
    };
    auto bracketed = [&lines](std::string_view label, const std::string& value) {
        if (!value.empty())
            lines.AddTail(std::string(label) + "<" + value + ">");
    };

    if (kind == 1 && !m_envelopeTo.IsEmpty()) {
        plain("X-Envelope-From: ", m_envelopeFrom);
        plain("X-Envelope-To: ", m_envelopeTo.GetHead());
    }
    if (kind == 2)
        bracketed("Return-Path: ", m_returnPath);
    for (auto position = m_received.GetHeadPosition(); position;)
        plain("Received: ", m_received.GetNext(position));
    bracketed("Message-ID: ", m_messageId);
    if (!m_fromName.empty())
        lines.AddTail("From: \"" + m_fromName + "\" <" + m_fromAddress + ">");
    else
        bracketed("From: ", m_fromAddress);
    plain("Organization: ", m_organization);
    plain("To: ", m_to);
    plain("Cc: ", m_cc);
    plain("Bcc: ", m_bcc);
    plain("Subject: ", m_subject);
    plain("Date: ", m_date);
    bracketed("Return-Receipt-To: ", m_returnReceiptTo);
    bracketed("Disposition-Notification-To: ", m_dispositionNotificationTo);
    plain("MIME-Version: ", m_mimeVersion);
    plain("Content-Type: ", m_contentType);
    plain("Content-Transfer-Encoding: ", m_contentTransferEncoding);
    plain("Content-Language: ", m_contentLanguage);
    plain("Content-Disposition: ", m_contentDisposition);
    plain("Content-Description: ", m_contentDescription);
    lines.AddTail(m_headerLines);
    plain("References: ", m_references);
    plain("In-Reply-To: ", m_inReplyTo);
    bracketed("Reply-To: ", m_replyTo);
    plain("Precedence: ", m_precedence);
    plain("X-Authenticated-As: ", m_authenticatedAs);
    plain("X-Resent-For: ", m_resentFor);
}
