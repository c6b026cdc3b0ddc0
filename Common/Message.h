// A mail message in the message file format of the suite's servers: the header block, an empty
// line, the body. CMessage adds the message headers (From, Subject, Date, ...) to a message
// part; CMail adds the envelope, trace and recipient headers and fixes the order in which a
// file lists them. The configurator reads and writes the accounts' reply templates with CMail;
// the servers store mail in the same format, so what is written here must read there.
//
// Load and Save hold the message file's cross-process lock while they touch the file, so a
// server never sees half a template and we never read one it is writing. The lock's name is the
// file's base name without extension (the servers follow the same rule; files of one name in
// different folders share a lock).
#pragma once

#include "Common/MessagePart.h"
#include "platform/Clock.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace message {

// "Mon, 6 Jan 2025 10:00:00 +0100": English day and month names whatever the locale, the day
// without a leading zero, then the offset from UTC as sign, hours and minutes.
std::string FormatDate(const platform::LocalTime& time);

// The name of a message file's lock: its base name without directory and extension
// ("reply" for ".../reply.emt"). Both "/" and "\" count as directory separators, so a path in
// the services' own notation gives the same name.
std::string LockNameFor(std::string_view path);

} // namespace message

// Why a message file could not be read or written: the cause in the numbering of the suite's
// file exceptions (1 generic, 2 not found, 3 bad path, 4 too many open files, 5 access denied,
// 10 hardware error, 13 disk full) and the system's error code.
struct CFileError {
    int cause = 0;
    int systemError = 0;
};

class CMessage : public CMessagePart {
public:
    // How long Load and Save wait for a server that holds the file.
    static constexpr std::chrono::milliseconds kLockLimit{10000};

    // Sets the creation time to now and Date to the local time now.
    CMessage();

    // From, Message-ID (without its angle brackets), Organization, Subject, Date, MIME-Version
    // and References; the rest goes to CMessagePart.
    bool SetHeaderField(std::string_view name, std::string_view value) override;

    // Parses a message file's bytes: the header block (continuation lines joined to their
    // header with CR LF and a tab), and unless flags is not 0 the body, normalised. A file
    // without a single header line is all body. False (with a diagnostic line) only when
    // memory runs out.
    virtual bool ReadFrom(std::string_view file, int flags);
    // The header lines in the order of a message file; kind selects the envelope lines.
    virtual void WriteHeaders(CStringListEx& lines, int kind) const = 0;
    // Appends the whole message file to file: header lines, empty line, body with CR LF line
    // ends, less a final "\r\n.\r\n" (the end mark of a transfer is not part of the message).
    virtual bool WriteTo(std::string& file, int flags) const;
    virtual void SetFrom(std::string_view address) { m_fromAddress = address; }
    // Takes address and display name from a From value: "Jane <jane@x>", "\"Jane\" <jane@x>",
    // "jane@x (Jane)" or a bare address.
    virtual void ParseFrom(std::string_view text);

    // Reads the message file at path under its lock: headers and body when flags is 0, only the
    // headers otherwise. False when the lock cannot be had within the limit, the file cannot be
    // read (error then tells why, when given), it holds 2 bytes or fewer, or reading it ran out
    // of memory; the fields then hold what was read so far.
    bool Load(const std::string& path, CFileError* error = nullptr, int flags = 0);
    // Replaces the message file at path, under its lock, by the message (WriteHeaders gets flags
    // as its kind). The file is replaced whole or not at all. False, with a diagnostic line,
    // when the lock cannot be had, memory runs out or the file cannot be written (error then
    // tells why, when given).
    bool Save(const std::string& path, int flags = 0, CFileError* error = nullptr) const;

    // Where the locks of Load and Save live and how long they wait (the suite's lock directory
    // and kLockLimit unless changed).
    void SetLocking(std::string lockDirectory, std::chrono::milliseconds limit);

    void SetSubject(std::string_view text) { m_subject = text; }
    void SetMessageId(std::string_view id) { m_messageId = id; }
    void SetOrganization(std::string_view text) { m_organization = text; }
    void SetDate(std::string_view text) { m_date = text; }
    void SetMimeVersion(std::string_view text) { m_mimeVersion = text; }
    void SetReferences(std::string_view text) { m_references = text; }

    std::int64_t GetCreationTime() const { return m_creationTime; }
    const std::string& GetFrom() const { return m_fromAddress; }
    const std::string& GetFromName() const { return m_fromName; }
    const std::string& GetMessageId() const { return m_messageId; }
    const std::string& GetSubject() const { return m_subject; }
    const std::string& GetDate() const { return m_date; }
    const std::string& GetOrganization() const { return m_organization; }
    const std::string& GetReferences() const { return m_references; }
    const std::string& GetMimeVersion() const { return m_mimeVersion; }

protected:
    std::int64_t m_creationTime = 0;
    std::string m_fromAddress;
    std::string m_fromName;
    std::string m_messageId;
    std::string m_subject;
    std::string m_date;
    std::string m_organization;
    std::string m_references;
    std::string m_mimeVersion;

private:
    std::string m_lockDirectory;
    std::chrono::milliseconds m_lockLimit = kLockLimit;
};

class CMail : public CMessage {
public:
    CMail() = default;

    // The envelope, trace and recipient headers; the rest goes to CMessage.
    bool SetHeaderField(std::string_view name, std::string_view value) override;
    // kind 1 adds the envelope (X-Envelope-From, X-Envelope-To) when there is a recipient,
    // kind 2 the Return-Path; kind 0 neither.
    void WriteHeaders(CStringListEx& lines, int kind) const override;

    // Plain assignments; the address fields take the bare address (the writer adds the angle
    // brackets).
    void SetEnvelopeFrom(std::string_view address) { m_envelopeFrom = address; }
    void AddEnvelopeTo(std::string_view address) { m_envelopeTo.AddTail(address); }
    void AddReceived(std::string_view line) { m_received.AddTail(line); }
    void SetTo(std::string_view text) { m_to = text; }
    void SetCc(std::string_view text) { m_cc = text; }
    void SetBcc(std::string_view text) { m_bcc = text; }
    void SetReturnPath(std::string_view address) { m_returnPath = address; }
    void SetReplyTo(std::string_view address) { m_replyTo = address; }
    void SetReturnReceiptTo(std::string_view address) { m_returnReceiptTo = address; }
    void SetDispositionNotificationTo(std::string_view address) {
        m_dispositionNotificationTo = address;
    }
    void SetInReplyTo(std::string_view text) { m_inReplyTo = text; }
    void SetPrecedence(std::string_view text) { m_precedence = text; }
    void SetAuthenticatedAs(std::string_view text) { m_authenticatedAs = text; }
    void SetResentFor(std::string_view text) { m_resentFor = text; }

    const CStringListEx& GetReceived() const { return m_received; }
    const std::string& GetEnvelopeFrom() const { return m_envelopeFrom; }
    const CStringListEx& GetEnvelopeTo() const { return m_envelopeTo; }
    const std::string& GetTo() const { return m_to; }
    const std::string& GetCc() const { return m_cc; }
    const std::string& GetBcc() const { return m_bcc; }
    const std::string& GetReturnPath() const { return m_returnPath; }
    const std::string& GetReplyTo() const { return m_replyTo; }
    const std::string& GetReturnReceiptTo() const { return m_returnReceiptTo; }
    const std::string& GetDispositionNotificationTo() const { return m_dispositionNotificationTo; }
    const std::string& GetInReplyTo() const { return m_inReplyTo; }
    const std::string& GetPrecedence() const { return m_precedence; }
    const std::string& GetAuthenticatedAs() const { return m_authenticatedAs; }
    const std::string& GetResentFor() const { return m_resentFor; }

private:
    // The envelope sender read from a header also stands for the return path, and for the
    // sender of a message that names none.
    void TakeEnvelopeSender(std::string address);
    void AddRecipient(std::string address);

    CStringListEx m_received;
    std::string m_envelopeFrom;
    CStringListEx m_envelopeTo;
    std::string m_to;
    std::string m_cc;
    std::string m_bcc;
    std::string m_returnPath;
    std::string m_replyTo;
    std::string m_returnReceiptTo;
    std::string m_dispositionNotificationTo;
    std::string m_inReplyTo;
    std::string m_precedence;
    std::string m_authenticatedAs;
    std::string m_resentFor;
};
