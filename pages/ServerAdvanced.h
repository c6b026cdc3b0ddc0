// The advanced settings of the three listening servers: the SMTP dialog with its limits and
// address checks, and the POP3 and IMAP4 dialogs, which hold nothing but the server
// certificate. All three offer the certificates of the machine's store the same way
// (CCertificateChoice) and write into their service's file in memory when closed with OK; the
// file is saved with the rest of the set after the sheet's OK.
#pragma once

#include "Common/MapEx.h"
#include "app/ConfigSet.h"
#include "pages/FieldModel.h"
#include "pages/Help.h"
#include "platform/CertificateStore.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The entries of a drop-down list that the model fills while the dialog opens, sorted as the
// list shows them (without regard to letter case). Values are the suite's 8-bit text; the
// choices carry them as values and, in UTF-8, as labels.
class CChoiceList {
public:
    void Assign(std::vector<std::string> entries);
    std::span<const CChoice> Choices() const { return m_choices; }
    std::size_t Count() const { return m_entries.size(); }
    // The first entry that begins with stored, compared without regard to case; empty when
    // stored is empty or no entry does.
    std::string EntryBeginningWith(std::string_view stored) const;

private:
    std::vector<std::string> m_entries;
    std::vector<std::string> m_labels;
    std::vector<CChoice> m_choices;
};

// Where the certificates come from: the machine's store unless a test hands in another.
using CertificateStoreFactory = std::function<std::unique_ptr<platform::CertificateStore>()>;

// The certificate choice of a server dialog, over the key "Certificate" of its file.
class CCertificateChoice {
public:
    static constexpr const char* kKey = "Certificate";

    explicit CCertificateChoice(CertificateStoreFactory factory);

    // Reads the store (telling the user when it cannot be opened or closed; the list is then
    // what could be read) and gives the entry to preselect for the name stored in file. The
    // store's UTF-8 names are converted once, here, to the code page, where a character is a
    // byte: the name in the list, in "Certificate" and in the file is then the same text.
    std::string Fill(CPrompter& prompter, const CConfigMap& file);
    const CChoiceList& List() const { return m_list; }
    // The latest end of validity (seconds since 1970) among the certificates of the list called
    // entry: a renewed certificate may lie beside the old one. Nothing when the store did not
    // tell.
    std::optional<std::int64_t> ExpiryOf(const std::string& entry) const;
    // An entry chosen is stored; with none the stored name stays, whatever it is.
    static void Apply(CConfigMap& file, const std::string& chosen);

private:
    CertificateStoreFactory m_factory;
    CChoiceList m_list;
    std::map<std::string, std::int64_t> m_expiries;
};

// What the three dialogs share: the field table with the lists filled in, and the certificate
// list read once, when the dialog first opens.
class CServerSettingsDlg : public CDialogModel {
public:
    static constexpr const char* kCertificate = "certificate";

    std::span<const CFieldSpec> Fields() const override { return m_fields; }
    void OnOpen(CPrompter& prompter) override;
    bool OnOk(CPrompter& prompter) override;

    const CChoiceList& Certificates() const { return m_certificates.List(); }

protected:
    CServerSettingsDlg(CConfigMap& file, std::span<const CFieldSpec> fields,
                       CertificateStoreFactory factory);
    // Opening after the certificate list: the dialog's other lists.
    virtual void OnOpenLists(CPrompter& /*prompter*/) {}
    // OK after the certificate: the dialog's other settings.
    virtual void ApplySettings() {}
    // Points a choice field of the table at entries filled at run time.
    void SetChoices(std::string_view fieldId, std::span<const CChoice> choices);

    CConfigMap& m_file;

private:
    std::vector<CFieldSpec> m_fields;
    CCertificateChoice m_certificates;
    bool m_opened = false;
};

class CSmtpAdvancedDlg : public CServerSettingsDlg {
public:
    static constexpr const char* kMaxRecipients = "maxRecipients";
    static constexpr const char* kMaxSize = "maxSize";
    static constexpr const char* kMaskOn = "maskOn";
    static constexpr const char* kMaskDomain = "maskDomain";
    static constexpr const char* kConvertQp = "convertQp";
    static constexpr const char* kLocalSenderCheck = "localSenderCheck";
    static constexpr const char* kAltReply = "altReply";
    static constexpr const char* kAltReplyOn = "altReplyOn";
    static constexpr const char* kResolveSender = "resolveSender";
    static constexpr const char* kVrfy = "vrfy";
    static constexpr const char* kResolveRecipient = "resolveRecipient";
    static constexpr const char* kSrsChallenge = "srsChallenge";
    static constexpr const char* kSpf = "spf";
    static constexpr const char* kSrsDomain = "srsDomain";

    // The reply offered when none is stored; "%s" is the recipient, for the service to fill.
    static constexpr const char* kDefaultAltReply = "250 recipient <%s> ok";

    explicit CSmtpAdvancedDlg(
        CConfigSet& set, CertificateStoreFactory factory = &platform::MakeSystemCertificateStore);

    const char* Caption() const override { return "SMTP-Einstellungen (erweitert)"; }
    const char* FormName() const override { return "SmtpAdvancedDlg"; }
    unsigned HelpContext() const override { return help::resource::kSmtpAdvanced; }
    // The mask and the alternative reply can be edited only while their boxes are ticked.
    void UpdateStates() override;

    const CChoiceList& SrsDomains() const { return m_srsDomains; }

protected:
    void OnOpenLists(CPrompter& prompter) override;
    void ApplySettings() override;

private:
    const CDomainList& m_domains;
    CChoiceList m_srsDomains;
};

// The POP3 and IMAP4 dialogs: the certificate alone, in their service's own file.
class CCertificateOnlyDlg : public CServerSettingsDlg {
public:
    const char* FormName() const override { return "ServerCertificateDlg"; }

protected:
    CCertificateOnlyDlg(CConfigMap& file, CertificateStoreFactory factory);
};

class CPop3AdvancedDlg : public CCertificateOnlyDlg {
public:
    explicit CPop3AdvancedDlg(
        CConfigSet& set, CertificateStoreFactory factory = &platform::MakeSystemCertificateStore)
        : CCertificateOnlyDlg(set.pop3d, std::move(factory)) {}
    const char* Caption() const override { return "POP3-Einstellungen (erweitert)"; }
    unsigned HelpContext() const override { return help::resource::kPop3Advanced; }
};

class CImap4AdvancedDlg : public CCertificateOnlyDlg {
public:
    explicit CImap4AdvancedDlg(
        CConfigSet& set, CertificateStoreFactory factory = &platform::MakeSystemCertificateStore)
        : CCertificateOnlyDlg(set.imap4d, std::move(factory)) {}
    const char* Caption() const override { return "IMAP4-Einstellungen (erweitert)"; }
    unsigned HelpContext() const override { return help::resource::kImap4Advanced; }
};
