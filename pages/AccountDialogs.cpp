#include "pages/AccountDialogs.h"

#include "Common/Ansi.h"
#include "accounts/Password.h"
#include "app/Strings.h"

#include <array>
#include <initializer_list>

namespace {

constexpr int kNameLimit = 64;    // local parts and domain names
constexpr int kTargetLimit = 129; // a forward address: local part, "@", domain
// The password file holds four digits per character: the limit keeps it one short line for
// the services, and lies far beyond any password a user types.
constexpr int kPasswordLimit = 128;
constexpr long kLimitMaximum = 32767;
// What may be typed, and what an account may already have: the arrows stop at kLimitMaximum,
// but a larger quota set by hand must be shown and kept, not refused when the dialog closes.
constexpr long kAcceptedMaximum = 2147483647;

// The rows both account dialogs show below the address, in exchange order. Quota, size and the
// domain carry no label of their own: "mb", "kb" and the "@" in front of the domain are fixed
// texts of the form.
constexpr CFieldSpec kPasswordField{.id = CAccountDlgBase::kPassword,
                                    .type = FieldType::Text,
                                    .label = "&Passwort:",
                                    .row = 2,
                                    .maxLength = kPasswordLimit,
                                    .flags = kFieldMasked};
constexpr CFieldSpec kQuotaOnField{.id = CAccountDlgBase::kQuotaOn,
                                   .type = FieldType::Check,
                                   .label = "Speicherplatzlimit (&Quota)",
                                   .row = 3};
constexpr CFieldSpec kQuotaField{.id = CAccountDlgBase::kQuota,
                                 .type = FieldType::Number,
                                 .label = "",
                                 .row = 4,
                                 .minimum = 0,
                                 .maximum = kAcceptedMaximum,
                                 .arrowMinimum = 0,
                                 .arrowMaximum = kLimitMaximum};
constexpr CFieldSpec kSaveEnvelopeField{.id = CAccountDlgBase::kSaveEnvelope,
                                        .type = FieldType::Check,
                                        .label = "&X-Envelope-Header erhalten",
                                        .row = 5};
constexpr CFieldSpec kSizeOnField{.id = CAccountDlgBase::kSizeOn,
                                  .type = FieldType::Check,
                                  .label = "Mail&größe beschränken auf:",
                                  .row = 6};
constexpr CFieldSpec kSizeField{.id = CAccountDlgBase::kSize,
                                .type = FieldType::Number,
                                .label = "",
                                .row = 7,
                                .minimum = 0,
                                .maximum = kAcceptedMaximum,
                                .arrowMinimum = 0,
                                .arrowMaximum = kLimitMaximum};
constexpr CFieldSpec kAntiSpamField{.id = CAccountDlgBase::kAntiSpam,
                                    .type = FieldType::Check,
                                    .label = "&Spamerkennung für eintreffende E-Mails vornehmen",
                                    .row = 8};
constexpr CFieldSpec kReplyField{.id = CAccountDlgBase::kReply,
                                 .type = FieldType::Check,
                                 .label = "Automatische Antwo&rt versenden",
                                 .row = 9};
constexpr CFieldSpec kReplySubjectField{
    .id = CAccountDlgBase::kReplySubject, .type = FieldType::Text, .label = "&Betreff:", .row = 10};
constexpr CFieldSpec kReplyTextField{.id = CAccountDlgBase::kReplyText,
                                     .type = FieldType::Text,
                                     .label = "&Nachricht:",
                                     .row = 11,
                                     .flags = kFieldMultiLine};

constexpr std::array<CFieldSpec, 2> kAddDomainFields{{
    {.id = CAddDomainDlg::kDomainName,
     .type = FieldType::Text,
     .label = "&Domainname:",
     .row = 0,
     .maxLength = kNameLimit},
    {.id = CAddDomainDlg::kSecondaryMx,
     .type = FieldType::Check,
     .label = "als &Secondary MX agieren",
     .row = 1},
}};

// The target is taken before the local part, as the dialog has always done it; on screen the
// alias address comes first.
constexpr std::array<CFieldSpec, 3> kAddAliasFields{{
    {.id = CAddAliasDlg::kTarget,
     .type = FieldType::Text,
     .label = "&Weitersenden an:",
     .row = 2,
     .maxLength = kTargetLimit},
    {.id = CAddAliasDlg::kLocalPart,
     .type = FieldType::Text,
     .label = "&Alias-Adresse:",
     .row = 0,
     .maxLength = kNameLimit},
    {.id = CAddAliasDlg::kDomain,
     .type = FieldType::Text,
     .label = "",
     .row = 1,
     .flags = kFieldReadOnly},
}};

constexpr std::array<CFieldSpec, 12> kAddAccountFields{{
    {.id = CAddAccountDlg::kLocalPart,
     .type = FieldType::Text,
     .label = "&Adresse:",
     .row = 0,
     .maxLength = kNameLimit},
    {.id = CAddAccountDlg::kDomain,
     .type = FieldType::Text,
     .label = "",
     .row = 1,
     .flags = kFieldReadOnly},
    kPasswordField,
    kQuotaOnField,
    kQuotaField,
    kSaveEnvelopeField,
    kSizeOnField,
    kSizeField,
    kAntiSpamField,
    kReplyField,
    kReplySubjectField,
    kReplyTextField,
}};

constexpr std::array<CFieldSpec, 11> kChangeAccountFields{{
    {.id = CChangeAccountDlg::kAddress,
     .type = FieldType::Text,
     .label = "&Adresse:",
     .row = 0,
     .flags = kFieldReadOnly},
    kPasswordField,
    kQuotaOnField,
    kQuotaField,
    kSaveEnvelopeField,
    kSizeOnField,
    kSizeField,
    kAntiSpamField,
    kReplyField,
    kReplySubjectField,
    kReplyTextField,
}};

constexpr std::array<CGroupSpec, 1> kAccountGroups{{{.id = CAccountDlgBase::kReplyArea}}};

bool IsControl(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsAscii(std::string_view text) {
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 1 || u > 127)
            return false;
    }
    return true;
}

} // namespace

namespace accountdlg {

std::optional<std::string> DomainNameRefusal(std::string_view name) {
    if (name.empty())
        return strings::Literal("Bitte geben Sie einen Domainnamen an.");
    bool unusable = name.front() == '.' || name.back() == '.';
    for (char c : name)
        unusable =
            unusable || IsBlank(c) || IsControl(c) || c == '@' || c == ':' || c == '/' || c == '\\';
    if (!unusable)
        return std::nullopt;
    return strings::Literal(
        "Der Domainname \"%s\" ist ungültig. Ein Domainname darf weder Leerzeichen, "
        "Steuerzeichen, \"@\", \":\", \"/\" noch \"\\\" enthalten und weder mit einem Punkt "
        "beginnen noch enden.",
        name);
}

} // namespace accountdlg

// --- Add domain ------------------------------------------------------------------------------

std::span<const CFieldSpec> CAddDomainDlg::Fields() const {
    return kAddDomainFields;
}

bool CAddDomainDlg::OnOk(CPrompter& prompter) {
    // Such a name would stand in "domains" and the tree, but no address could ever reach it, and
    // an empty line would be a domain nobody can select again.
    if (auto refusal = accountdlg::DomainNameRefusal(Value(kDomainName)))
        return RefuseField(prompter, kDomainName, *refusal);
    // Refused here rather than after the dialog has closed, so that what was typed stays to
    // be corrected.
    if (m_exists && m_exists(ansi::ToLower(Value(kDomainName))))
        return RefuseField(prompter, kDomainName, 142);
    return true;
}

// --- Add alias -------------------------------------------------------------------------------

CAddAliasDlg::CAddAliasDlg(std::string_view domain) {
    SetValue(kDomain, std::string(domain));
}

std::span<const CFieldSpec> CAddAliasDlg::Fields() const {
    return kAddAliasFields;
}

bool CAddAliasDlg::OnOk(CPrompter& prompter) {
    // The local part becomes the key of an "aliases" line: an empty one gives a key the list
    // never shows again, a blank or control character one the file cannot hold, a ":" a key
    // cut short where the line's separator is looked for, and a second "@" an address that
    // never arrives. "*" and "?" are wanted here: they make the alias a pattern. The target is
    // the rest of the line after the first ":", so a ":" in it comes back as it was.
    const std::string& local = Value(kLocalPart);
    bool unusable = local.empty();
    for (char c : local)
        unusable = unusable || IsBlank(c) || IsControl(c) || c == '@' || c == ':';
    if (unusable)
        return RefuseField(prompter, kLocalPart,
                           strings::Literal("Bitte geben Sie eine Alias-Adresse ohne Leerzeichen, "
                                            "Steuerzeichen, \"@\" und \":\" an."));
    // At the root a bare account name is a valid target too.
    if (Value(kDomain) != "*" && Value(kTarget).find('@') == std::string::npos)
        return RefuseField(prompter, kTarget, 149);
    return true;
}

// --- Account dialogs -------------------------------------------------------------------------

CAccountDlgBase::CAccountDlgBase() {
    for (const char* id : {kQuotaOn, kSaveEnvelope, kSizeOn, kAntiSpam, kReply})
        SetChecked(id, false);
    SetNumber(kQuota, 0);
    SetNumber(kSize, 0);
    CAccountDlgBase::UpdateStates();
}

std::span<const CGroupSpec> CAccountDlgBase::Groups() const {
    return kAccountGroups;
}

void CAccountDlgBase::UpdateStates() {
    SetEnabled(kQuota, IsChecked(kQuotaOn));
    SetEnabled(kSize, IsChecked(kSizeOn));
    const bool reply = IsChecked(kReply);
    SetEnabled(kReplySubject, reply);
    SetEnabled(kReplyText, reply);
    SetVisible(kReplyArea, reply);
}

bool CAccountDlgBase::OnOk(CPrompter& prompter) {
    // The services read the password file through the same encoding; a byte it cannot carry
    // would lock the user out with a password that looks accepted.
    const std::string& password = Value(kPassword);
    if (password.empty())
        return RefuseField(prompter, kPassword, EmptyPasswordMessage());
    const std::string account = AccountName();
    if (PasswordSurvivesEncoding(account, password))
        return true;
    if (!IsAscii(password))
        return RefuseField(
            prompter, kPassword,
            strings::Literal("Das Passwort darf nur Zeichen des ASCII-Zeichensatzes enthalten, "
                             "keine Umlaute oder anderen Sonderzeichen: der Mailserver könnte es "
                             "sonst nicht lesen."));
    return RefuseField(
        prompter, kPassword,
        strings::Literal("Für das Konto \"%s\" kann kein Passwort gespeichert werden, das der "
                         "Mailserver lesen kann, da sein Name Umlaute oder andere Sonderzeichen "
                         "enthält. Bitte verwenden Sie nur Zeichen des ASCII-Zeichensatzes.",
                         account));
}

CAddAccountDlg::CAddAccountDlg(std::string_view domain, std::string_view localPart) {
    SetValue(kDomain, std::string(domain));
    SetValue(kLocalPart, std::string(localPart));
}

std::span<const CFieldSpec> CAddAccountDlg::Fields() const {
    return kAddAccountFields;
}

std::string CAddAccountDlg::AccountName() const {
    const std::string local = ansi::ToLower(Value(kLocalPart));
    if (AtRoot())
        return local;
    return AccountNameOf(local, ansi::ToLower(Value(kDomain)));
}

std::string CAddAccountDlg::Address() const {
    if (AtRoot())
        return {};
    return AliasAddressOf(ansi::ToLower(Value(kLocalPart)), ansi::ToLower(Value(kDomain)));
}

bool CAddAccountDlg::OnOk(CPrompter& prompter) {
    // The store refuses such a name as well, but only with "could not create"; the user would
    // not learn what to type instead.
    const std::string& local = Value(kLocalPart);
    if (local.empty())
        return RefuseField(prompter, kLocalPart,
                           strings::Literal("Bitte geben Sie eine Adresse an."));
    // "*" alone is the account of the domain itself. Anywhere else a "*" or "?" would turn the
    // account's address into a pattern that takes other addresses' mail, and a ":" would cut
    // the key of its "aliases" line short. At the root no domain stands behind a "*".
    const bool domainItself = local == "*" && !AtRoot();
    bool unusable = (!domainItself && local.find_first_of("@:*?") != std::string::npos) ||
                    !IsValidAccountName(AccountName());
    for (char c : local)
        unusable = unusable || IsBlank(c);
    if (unusable) {
        std::string text = strings::Literal(
            "Mit der Adresse \"%s\" kann kein Konto angelegt werden. Sie darf nicht mit einem "
            "Punkt beginnen und weder Leerzeichen, Steuerzeichen, \"@\", \":\", \"*\", \"?\", "
            "\"/\" noch \"\\\" enthalten.",
            local);
        if (!AtRoot())
            text += strings::Literal(" Nur \"*\" allein ist erlaubt: es steht für die Domain "
                                     "selbst.");
        return RefuseField(prompter, kLocalPart, text);
    }
    return CAccountDlgBase::OnOk(prompter);
}

AccountSettings CAddAccountDlg::CreationSettings() const {
    AccountSettings settings;
    if (IsChecked(kSaveEnvelope)) {
        settings.flags |= AccountSettings::kStoreSaveEnvelope;
        settings.saveEnvelope = 1;
    }
    if (IsChecked(kQuotaOn)) {
        settings.flags |= AccountSettings::kStoreQuota;
        settings.quota = static_cast<int>(Number(kQuota));
    }
    if (IsChecked(kSizeOn)) {
        settings.flags |= AccountSettings::kStoreMaxSize;
        settings.maxSize = static_cast<int>(Number(kSize));
    }
    return settings;
}

CChangeAccountDlg::CChangeAccountDlg(std::string_view address, std::string_view account)
    : m_account(account) {
    SetValue(kAddress, std::string(address));
}

std::span<const CFieldSpec> CChangeAccountDlg::Fields() const {
    return kChangeAccountFields;
}

AccountSettings CChangeAccountDlg::ChangeSettings() const {
    AccountSettings settings;
    settings.flags = AccountSettings::kStoreSaveEnvelope | AccountSettings::kStoreQuota |
                     AccountSettings::kStoreMaxSize;
    settings.saveEnvelope = IsChecked(kSaveEnvelope) ? 1 : 0;
    settings.quota = IsChecked(kQuotaOn) ? static_cast<int>(Number(kQuota)) : 0;
    settings.maxSize = IsChecked(kSizeOn) ? static_cast<int>(Number(kSize)) : 0;
    return settings;
}
