#include "pages/ServerAdvanced.h"

#include "Common/Ansi.h"
#include "app/Strings.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>

namespace {

using S = CSmtpAdvancedDlg;

constexpr int kMaskLimit = 64;
constexpr long kArrowMaximum = 32767;

// The list of certificates: what the store offers, or nothing.
constexpr CFieldSpec kCertificateField{.id = CServerSettingsDlg::kCertificate,
                                       .type = FieldType::Choice,
                                       .label = "Server&zertifikat:",
                                       .row = 0,
                                       .flags = kFieldMayBeEmpty,
                                       .key = CCertificateChoice::kKey};

// A number the service takes as a signed 32-bit value: any whole number is stored as typed.
constexpr CFieldSpec Limit(const char* id, const char* label, int row, const char* key,
                           const char* olderKey, const char* defaultValue) {
    return {.id = id,
            .type = FieldType::Number,
            .label = label,
            .row = row,
            .minimum = INT_MIN,
            .maximum = INT_MAX,
            .arrowMinimum = 0,
            .arrowMaximum = kArrowMaximum,
            .key = key,
            .defaultValue = defaultValue,
            .olderKey = olderKey};
}

constexpr CFieldSpec Switch(const char* id, const char* label, int row, const char* key,
                            const char* olderKey, const char* defaultValue) {
    return {.id = id,
            .type = FieldType::Check,
            .label = label,
            .row = row,
            .key = key,
            .defaultValue = defaultValue,
            .olderKey = olderKey};
}

// In exchange order. The mask and the alternative reply are stored only while their boxes are
// ticked, so their keys are written by hand; every other field maps to one key.
constexpr std::array<CFieldSpec, 15> kSmtpFields{{
    {.id = S::kSrsDomain,
     .type = FieldType::Choice,
     .label = "Domain für &SRS-Adressumschreibung:",
     .row = 11,
     .flags = kFieldMayBeEmpty,
     .key = "SRS.Domain"},
    {kCertificateField},
    Limit(S::kMaxRecipients, "Maximale Empfänger&anzahl:", 2, "Rcpt.To.Max", "MaxRecipients",
          "100"),
    Limit(S::kMaxSize, "Maximale Mail&größe:", 1, "Mail.Size.Max", "MaxSize", "1024"),
    {.id = S::kMaskOn, .type = FieldType::Check, .label = "Absender &maskieren als:", .row = 3},
    {.id = S::kMaskDomain,
     .type = FieldType::Text,
     .label = "",
     .row = 4,
     .maxLength = kMaskLimit,
     .key = "MaskDomain"},
    Switch(S::kConvertQp, "&Quoted-Printable-Mails in 8-Bit umwandeln", 13, "ConvertFromQP",
           nullptr, "1"),
    Switch(S::kLocalSenderCheck, "nur gültige &lokale Absenderadressen akzeptieren", 5,
           "Mail.From.Local.Check", "CheckSender", "0"),
    {.id = S::kAltReply,
     .type = FieldType::Text,
     .label = "",
     .row = 15,
     .key = "Rcpt.To.Reply.NonLocal",
     .olderKey = "Alt251Reply"},
    {.id = S::kAltReplyOn,
     .type = FieldType::Check,
     .label = "alternative 251-Antwort bei e&xternen Zielen:",
     .row = 14},
    Switch(S::kResolveSender, "nur auflösbare Absender&domains akzeptieren", 7, "Mail.From.Resolve",
           "ResolveSender", "1"),
    Switch(S::kVrfy, "Adressprüfung von Außen erlauben (&VRFY)", 9, "Vrfy.Enable", "EnableVerify",
           "0"),
    Switch(S::kResolveRecipient, "nur au&flösbare Zieldomains akzeptieren", 8, "Rcpt.To.Resolve",
           "ResolveRecipient", "1"),
    {.id = S::kSrsChallenge,
     .type = FieldType::Text,
     .label = "&Challenge für SRS-Adressumschreibung:",
     .row = 12,
     .key = "SRS.Challenge"},
    Switch(S::kSpf, "&fremde Absenderadressen mittels SPF prüfen", 6, "Mail.From.SPF", nullptr,
           "0"),
}};

// The keys written on OK after the certificate and the SRS domain, in the order the service's
// file has always received them (keys new to the file are appended in this order).
constexpr std::array<const char*, 11> kWriteOrder{{
    S::kSrsChallenge,
    S::kMaskDomain,
    S::kAltReply,
    S::kLocalSenderCheck,
    S::kSpf,
    S::kResolveSender,
    S::kResolveRecipient,
    S::kMaxSize,
    S::kMaxRecipients,
    S::kConvertQp,
    S::kVrfy,
}};

// Older keys that go on OK. "ResolveRecipient" and "EnableVerify" stay: older services still
// read them.
constexpr std::array<const char*, 5> kRemovedOlderKeys{{
    "Alt251Reply",
    "CheckSender",
    "MaxRecipients",
    "MaxSize",
    "ResolveSender",
}};

constexpr std::array<CFieldSpec, 1> kCertificateOnlyFields{{kCertificateField}};

std::string LowerCaseKey(const std::string& entry) {
    return ansi::ToLower(entry);
}

} // namespace

// --- Lists filled while a dialog opens -----------------------------------------------------

void CChoiceList::Assign(std::vector<std::string> entries) {
    // Sorted as a sorting drop-down list shows them: letter case aside, then byte by byte, so
    // the order does not depend on the order the source gave them in.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const std::string& a, const std::string& b) {
                         const std::string la = LowerCaseKey(a), lb = LowerCaseKey(b);
                         return la != lb ? la < lb : a < b;
                     });
    m_entries = std::move(entries);
    m_labels.clear();
    m_labels.reserve(m_entries.size());
    for (const std::string& entry : m_entries)
        m_labels.push_back(ansi::ToUtf8(entry));
    // Pointers into the two vectors above, which are not touched again until the next Assign.
    m_choices.clear();
    m_choices.reserve(m_entries.size());
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        m_choices.push_back({m_entries[i].c_str(), m_labels[i].c_str()});
}

std::string CChoiceList::EntryBeginningWith(std::string_view stored) const {
    if (stored.empty())
        return {};
    for (const std::string& entry : m_entries)
        if (ansi::StartsWithNoCase(entry, stored))
            return entry;
    return {};
}

// --- The certificate choice ----------------------------------------------------------------

CCertificateChoice::CCertificateChoice(CertificateStoreFactory factory)
    : m_factory(std::move(factory)) {}

std::string CCertificateChoice::Fill(CPrompter& prompter, const CConfigMap& file) {
    std::vector<std::string> names;
    m_expiries.clear();
    std::unique_ptr<platform::CertificateStore> store = m_factory ? m_factory() : nullptr;
    if (!store || !store->Open()) {
        prompter.ShowText(strings::Literal(
            "Der Zertifikatsspeicher des Betriebssystems konnte nicht geöffnet werden."));
    } else {
        std::string subject;
        while (store->Next(subject)) {
            // The store hands out UTF-8; the list and the file hold the suite's code page, in
            // which the store's limit in characters is one in bytes as well.
            std::string name = ansi::FromUtf8(subject);
            if (name.size() > platform::kSubjectNameLimit)
                name.resize(platform::kSubjectNameLimit);
            // A certificate without a subject cannot be told apart from any other.
            if (name.empty())
                continue;
            if (const auto expiry = store->ExpiryOfLast()) {
                const auto [known, added] = m_expiries.emplace(name, *expiry);
                if (!added && known->second < *expiry)
                    known->second = *expiry;
            }
            names.push_back(std::move(name));
        }
        if (!store->Close())
            prompter.ShowText(strings::Literal(
                "Der Zertifikatsspeicher des Betriebssystems konnte nicht geschlossen werden."));
    }
    m_list.Assign(std::move(names));
    return m_list.EntryBeginningWith(file.GetString(kKey, ""));
}

std::optional<std::int64_t> CCertificateChoice::ExpiryOf(const std::string& entry) const {
    const auto found = m_expiries.find(entry);
    return found == m_expiries.end() ? std::nullopt : std::optional<std::int64_t>(found->second);
}

void CCertificateChoice::Apply(CConfigMap& file, const std::string& chosen) {
    // There is no way to clear a stored certificate here: no choice leaves the key alone.
    if (!chosen.empty())
        file.SetString(kKey, chosen);
}

// --- The shared dialog ---------------------------------------------------------------------

CServerSettingsDlg::CServerSettingsDlg(CConfigMap& file, std::span<const CFieldSpec> fields,
                                       CertificateStoreFactory factory)
    : m_file(file), m_fields(fields.begin(), fields.end()), m_certificates(std::move(factory)) {}

void CServerSettingsDlg::SetChoices(std::string_view fieldId, std::span<const CChoice> choices) {
    for (CFieldSpec& field : m_fields)
        if (fieldId == field.id)
            field.choices = choices;
}

void CServerSettingsDlg::OnOpen(CPrompter& prompter) {
    // Read once per dialog: a dialog shown again after a refused OK keeps the user's choice
    // and tells nothing twice.
    if (m_opened)
        return;
    m_opened = true;
    const std::string preselected = m_certificates.Fill(prompter, m_file);
    SetChoices(kCertificate, m_certificates.List().Choices());
    SetValue(kCertificate, preselected);
    OnOpenLists(prompter);
    UpdateStates();
}

bool CServerSettingsDlg::OnOk(CPrompter& /*prompter*/) {
    CCertificateChoice::Apply(m_file, Value(kCertificate));
    ApplySettings();
    return true;
}

CCertificateOnlyDlg::CCertificateOnlyDlg(CConfigMap& file, CertificateStoreFactory factory)
    : CServerSettingsDlg(file, kCertificateOnlyFields, std::move(factory)) {}

// --- SMTP ----------------------------------------------------------------------------------

CSmtpAdvancedDlg::CSmtpAdvancedDlg(CConfigSet& set, CertificateStoreFactory factory)
    : CServerSettingsDlg(set.smtpd, kSmtpFields, std::move(factory)), m_domains(set.domains) {
    // The newer key wins; where it is absent the older one's value stands in.
    for (const CFieldSpec& field : kSmtpFields) {
        // The lists are filled, and their entries chosen, when the dialog opens.
        if (!field.key || field.type == FieldType::Choice)
            continue;
        const char* fallback = field.defaultValue ? field.defaultValue : "";
        if (field.type == FieldType::Text) {
            const std::string older =
                field.olderKey ? m_file.GetString(field.olderKey, fallback) : std::string(fallback);
            SetValue(field.id, m_file.GetString(field.key, older));
            continue;
        }
        const int base = std::atoi(fallback);
        const int older = field.olderKey ? m_file.GetInt(field.olderKey, base) : base;
        const int value = m_file.GetInt(field.key, older);
        if (field.type == FieldType::Check)
            SetValue(field.id, value != 0 ? "1" : "0");
        else
            SetNumber(field.id, value);
    }
    SetValue(kMaskOn, Value(kMaskDomain).empty() ? "0" : "1");
    SetValue(kAltReplyOn, Value(kAltReply).empty() ? "0" : "1");
    // Ticking the box then offers a reply that works.
    if (Value(kAltReply).empty())
        SetValue(kAltReply, kDefaultAltReply);
    UpdateStates();
}

void CSmtpAdvancedDlg::UpdateStates() {
    SetEnabled(kMaskDomain, Value(kMaskOn) == "1");
    SetEnabled(kAltReply, Value(kAltReplyOn) == "1");
}

void CSmtpAdvancedDlg::OnOpenLists(CPrompter& /*prompter*/) {
    std::vector<std::string> domains;
    for (auto position = m_domains.GetHeadPosition(); position;) {
        const std::string_view domain = m_domains.GetNext(position);
        if (std::find(domains.begin(), domains.end(), domain) == domains.end())
            domains.emplace_back(domain);
    }
    m_srsDomains.Assign(std::move(domains));
    SetChoices(kSrsDomain, m_srsDomains.Choices());
    SetValue(kSrsDomain,
             m_srsDomains.EntryBeginningWith(m_file.GetString(FindField(kSrsDomain)->key, "")));
}

void CSmtpAdvancedDlg::ApplySettings() {
    // Like the certificate: without a choice the stored domain stays.
    if (!Value(kSrsDomain).empty())
        m_file.SetString(FindField(kSrsDomain)->key, Value(kSrsDomain));
    for (const char* id : kWriteOrder) {
        const CFieldSpec& field = *FindField(id);
        if (id == std::string_view(kMaskDomain))
            m_file.SetString(field.key, Value(kMaskOn) == "1" ? Value(id) : std::string());
        else if (id == std::string_view(kAltReply))
            m_file.SetString(field.key, Value(kAltReplyOn) == "1" ? Value(id) : std::string());
        else if (field.type == FieldType::Text)
            m_file.SetString(field.key, Value(id));
        else
            m_file.SetInt(field.key, static_cast<int>(Number(id)));
    }
    for (const char* older : kRemovedOlderKeys)
        m_file.SetString(older, "");
}
