// The server dialogs without a window: the certificate list from a real folder of certificates
// made here, what each dialog writes into which file, and the SMTP dialog's newer and older
// keys with the order its keys reach the file.
#include "pages/ServerAdvanced.h"

#include "Common/Ansi.h"
#include "platform/FileSystem.h"
#include "tests/ScriptedPrompter.h"
#include "tests/TestUtil.h"
#include "tests/pages/CertificateMaker.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using S = CSmtpAdvancedDlg;

CertificateStoreFactory Folder(const std::string& path) {
    return [path] { return platform::MakeFolderCertificateStore(path); };
}

std::vector<std::string> Entries(const CChoiceList& list) {
    std::vector<std::string> entries;
    for (const CChoice& choice : list.Choices())
        entries.emplace_back(choice.value);
    return entries;
}

// The keys of a map in the order a save writes the ones added since its load.
std::vector<std::string> Keys(const CConfigMap& map) {
    std::vector<std::string> keys;
    std::string key, value;
    for (auto position = map.GetStartPosition(); position;) {
        map.GetNextAssoc(position, key, value);
        keys.push_back(key);
    }
    return keys;
}

bool Has(const CConfigMap& map, const char* key) {
    std::string value;
    return map.Lookup(key, value);
}

// Opens the dialog through the prompter as a page would, lets fill play the user and presses OK.
template <class Dialog> void OpenAndOk(Dialog& dialog, const std::function<void(Dialog&)>& fill) {
    CScriptedPrompter user;
    user.ExpectDialog([&](CDialogModel&) {
        fill(dialog);
        return true;
    });
    EXPECT_TRUE(RunDialogAccepted(user, dialog));
}

// A store whose closing fails, as only a broken system would make it.
class CUnclosableStore : public platform::CertificateStore {
public:
    bool Open() override { return true; }
    bool Next(std::string& subject) override {
        if (m_given)
            return false;
        m_given = true;
        subject = "mail.example.test, Korvane Test, DE";
        return true;
    }
    bool Close() override { return false; }

private:
    bool m_given = false;
};

TEST(ServerCertificates, FolderOfCertificatesAsTheListShowsThem) {
    testutil::TempDir folder;
    const testcert::Subject mail{{"CN", "mail.example.test"}, {"O", "Korvane Test"}, {"C", "DE"}};
    // Two certificates of one subject in one PEM file, and a third in a DER file of another.
    testutil::WriteBytes(folder / "mail.pem", testcert::Pem(mail) + testcert::Pem(mail, -400, -10));
    testutil::WriteBytes(folder / "imap.der",
                         testcert::Der({{"CN", "imap.example.test"}, {"O", "Müller & Söhne"}}));
    // 200 characters, with an umlaut (two bytes in UTF-8) as the 127th: the cut counts
    // characters, not bytes.
    const std::string org = std::string(60, 'b') + "\xC3\xB6" + "bbb";
    testutil::WriteBytes(folder / "long.pem",
                         testcert::Pem({{"CN", std::string(64, 'a')},
                                        {"O", org},
                                        {"OU", std::string(64, 'c')},
                                        {"C", "DE"}}));
    testutil::WriteBytes(folder / "nameless.pem", testcert::Pem({}));
    testutil::WriteBytes(folder / "broken.pem",
                         "-----BEGIN CERTIFICATE-----\nMIIBkTCB+wIJAKHHIG...\n"
                         "-----END CERTIFICATE-----\n");
    testutil::WriteBytes(folder / "empty.pem", "");
    // Larger than anything read of one file, although a certificate stands at its start.
    testutil::WriteBytes(folder / "huge.pem", testcert::Pem(mail) + std::string(1100000, 'x'));
    platform::MakeDirectory(folder / "sub.pem");

    CConfigSet set;
    CPop3AdvancedDlg dialog(set, Folder(folder.path()));
    CScriptedPrompter user;
    dialog.OnOpen(user);
    const std::string cut = std::string(64, 'a') + ", " + std::string(60, 'b') + "\xF6";
    ASSERT_EQ(cut.size(), 127u);
    EXPECT_EQ(Entries(dialog.Certificates()),
              (std::vector<std::string>{cut, "imap.example.test, M\xFCller & S\xF6hne",
                                        "mail.example.test, Korvane Test, DE",
                                        "mail.example.test, Korvane Test, DE"}));
    EXPECT_EQ(dialog.Value(CServerSettingsDlg::kCertificate), "") << "nothing stored";

    // The cut name is what is stored, and chosen again when the dialog opens next.
    dialog.SetValue(CServerSettingsDlg::kCertificate, cut);
    EXPECT_TRUE(dialog.OnOk(user));
    EXPECT_EQ(set.pop3d.GetString("Certificate", ""), cut);
    CPop3AdvancedDlg again(set, Folder(folder.path()));
    again.OnOpen(user);
    EXPECT_EQ(again.Value(CServerSettingsDlg::kCertificate), cut);
}

TEST(ServerCertificates, StoreThatCannotBeOpenedOrClosedIsToldAndTheDialogStillOpens) {
    testutil::TempDir folder;
    CConfigSet set;
    set.pop3d.SetString("Certificate", "old.example.test");
    CPop3AdvancedDlg dialog(set, Folder(folder / "missing"));
    CScriptedPrompter user;
    user.ExpectText("konnte nicht ge\xF6"
                    "ffnet werden.");
    user.ExpectDialog([](CDialogModel&) { return true; });
    EXPECT_TRUE(RunDialogAccepted(user, dialog));
    EXPECT_EQ(dialog.Certificates().Count(), 0u);
    EXPECT_EQ(set.pop3d.GetString("Certificate", ""), "old.example.test")
        << "OK without a choice leaves the stored name";

    CImap4AdvancedDlg unclosable(set, [] { return std::make_unique<CUnclosableStore>(); });
    user.ExpectText("konnte nicht geschlossen werden.");
    unclosable.OnOpen(user);
    EXPECT_EQ(unclosable.Certificates().Count(), 1u) << "what was read is offered";
    user.VerifyAllMet();
}

TEST(ServerCertificates, EachDialogWritesItsOwnFileAndPreselectsByTheStoredBeginning) {
    testutil::TempDir folder;
    testutil::WriteBytes(folder / "a.pem", testcert::Pem({{"CN", "imap.example.test"}}));
    testutil::WriteBytes(folder / "b.pem", testcert::Pem({{"CN", "pop.example.test"}}));
    CConfigSet set;
    set.smtpd.SetString("Certificate", "smtp.example.test");
    set.pop3d.SetString("Certificate", "POP.EXAMPLE");
    CImap4AdvancedDlg imap(set, Folder(folder.path()));
    OpenAndOk<CImap4AdvancedDlg>(imap, [](CImap4AdvancedDlg& d) {
        EXPECT_EQ(d.Value(CServerSettingsDlg::kCertificate), "") << "none stored for IMAP4";
        d.SetValue(CServerSettingsDlg::kCertificate, "imap.example.test");
    });
    EXPECT_EQ(set.imap4d.GetString("Certificate", ""), "imap.example.test");
    EXPECT_EQ(set.smtpd.GetString("Certificate", ""), "smtp.example.test");
    EXPECT_EQ(set.pop3d.GetString("Certificate", ""), "POP.EXAMPLE");

    // A stored beginning in other letters picks the full name, which OK then stores.
    CPop3AdvancedDlg pop(set, Folder(folder.path()));
    OpenAndOk<CPop3AdvancedDlg>(pop, [](CPop3AdvancedDlg& d) {
        EXPECT_EQ(d.Value(CServerSettingsDlg::kCertificate), "pop.example.test");
    });
    EXPECT_EQ(set.pop3d.GetString("Certificate", ""), "pop.example.test");
}

TEST(SmtpAdvanced, NewerKeysWinOlderOnesStandInAndTheDocumentedOnesGo) {
    testutil::TempDir folder; // no certificates: the list is empty, nothing is told
    CConfigSet set;
    set.smtpd.SetString("MaxRecipients", "50");
    set.smtpd.SetString("Vrfy.Enable", "0");
    set.smtpd.SetString("EnableVerify", "1");
    set.smtpd.SetString("ResolveRecipient", "0");
    set.smtpd.SetString("CheckSender", "1");
    set.smtpd.SetString("MaskDomain", "example.test");
    set.smtpd.SetString("SRS.Domain", "elsewhere.test");
    set.smtpd.SetString("SRS.Challenge", "geheim");
    S dialog(set, Folder(folder.path()));
    EXPECT_EQ(dialog.Number(S::kMaxRecipients), 50);
    EXPECT_EQ(dialog.Number(S::kMaxSize), 1024);
    EXPECT_EQ(dialog.Value(S::kVrfy), "0") << "the newer key wins";
    EXPECT_EQ(dialog.Value(S::kResolveRecipient), "0");
    EXPECT_EQ(dialog.Value(S::kLocalSenderCheck), "1");
    EXPECT_EQ(dialog.Value(S::kResolveSender), "1");
    EXPECT_EQ(dialog.Value(S::kConvertQp), "1");
    EXPECT_EQ(dialog.Value(S::kMaskOn), "1");
    EXPECT_TRUE(dialog.IsEnabled(S::kMaskDomain));
    // No alternative reply stored: the box is clear, its field disabled with the usual reply.
    EXPECT_EQ(dialog.Value(S::kAltReplyOn), "0");
    EXPECT_FALSE(dialog.IsEnabled(S::kAltReply));
    EXPECT_EQ(dialog.Value(S::kAltReply), S::kDefaultAltReply);

    set.domains.AddTail("b.test");
    set.domains.AddTail("A.test");
    set.domains.AddTail("b.test");
    OpenAndOk<S>(dialog, [](S& d) {
        EXPECT_EQ(Entries(d.SrsDomains()), (std::vector<std::string>{"A.test", "b.test"}));
        EXPECT_EQ(d.Value(S::kSrsDomain), "") << "the stored domain is not a local one";
        d.FieldChanged(S::kMaskOn, "0");
        EXPECT_FALSE(d.IsEnabled(S::kMaskDomain));
        EXPECT_EQ(d.Value(S::kMaskDomain), "example.test") << "the text stays while disabled";
        d.FieldChanged(S::kAltReplyOn, "1");
        EXPECT_TRUE(d.IsEnabled(S::kAltReply));
        d.SetValue(S::kSrsChallenge, "");
    });
    const CConfigMap& smtpd = set.smtpd;
    EXPECT_EQ(smtpd.GetString("Rcpt.To.Max", ""), "50");
    EXPECT_EQ(smtpd.GetString("Rcpt.To.Reply.NonLocal", ""), S::kDefaultAltReply);
    EXPECT_EQ(smtpd.GetString("Vrfy.Enable", ""), "0");
    EXPECT_EQ(smtpd.GetString("EnableVerify", ""), "1") << "stays for older services";
    EXPECT_EQ(smtpd.GetString("ResolveRecipient", ""), "0") << "stays for older services";
    EXPECT_EQ(smtpd.GetString("SRS.Domain", ""), "elsewhere.test") << "no choice: unchanged";
    for (const char* gone :
         {"MaxRecipients", "CheckSender", "MaskDomain", "SRS.Challenge", "Certificate"})
        EXPECT_FALSE(Has(smtpd, gone)) << gone;
}

TEST(SmtpAdvanced, KeysReachTheFileInTheirOrderAndASecondOkWritesTheSame) {
    testutil::TempDir folder;
    testutil::WriteBytes(folder / "mail.pem", testcert::Pem({{"CN", "mail.example.test"}}));
    CConfigSet set;
    set.domains.AddTail("example.test");
    set.smtpd.SetString("Alt251Reply", "251 forwarded");
    set.smtpd.SetString("MaxSize", "2048");
    set.smtpd.SetString("ResolveSender", "0");
    S dialog(set, Folder(folder.path()));
    EXPECT_EQ(dialog.Value(S::kAltReplyOn), "1");
    EXPECT_EQ(dialog.Value(S::kAltReply), "251 forwarded");
    EXPECT_EQ(dialog.Value(S::kMaskOn), "0");

    // The mask text has its limit, the numbers any whole value: both checked by the exchange.
    CScriptedPrompter user;
    dialog.OnOpen(user);
    auto take = [&](const char* id, std::string text) {
        return dialog.TakeFields(
            [&](const CFieldSpec& field) {
                return field.id == std::string_view(id) ? text : dialog.Value(field.id);
            },
            user);
    };
    user.ExpectText("64 Zeichen");
    EXPECT_EQ(take(S::kMaskDomain, std::string(65, 'm')), S::kMaskDomain);
    user.ExpectText("ganze Zahl");
    EXPECT_EQ(take(S::kMaxSize, "12kb"), S::kMaxSize);
    EXPECT_EQ(take(S::kMaxSize, "-5"), std::nullopt) << "negative numbers are stored as typed";
    EXPECT_EQ(take(S::kMaskDomain, "mask.example.test"), std::nullopt);
    dialog.FieldChanged(S::kMaskOn, "1");
    dialog.SetValue(S::kSrsDomain, "example.test");
    dialog.SetValue(S::kCertificate, "mail.example.test");

    ASSERT_TRUE(dialog.OnOk(user));
    const std::vector<std::string> order{
        "Certificate",           "SRS.Domain",    "MaskDomain",        "Rcpt.To.Reply.NonLocal",
        "Mail.From.Local.Check", "Mail.From.SPF", "Mail.From.Resolve", "Rcpt.To.Resolve",
        "Mail.Size.Max",         "Rcpt.To.Max",   "ConvertFromQP",     "Vrfy.Enable"};
    EXPECT_EQ(Keys(set.smtpd), order) << "older keys gone, newer ones in the order written";
    EXPECT_EQ(set.smtpd.GetString("Mail.Size.Max", ""), "-5");
    EXPECT_EQ(set.smtpd.GetString("Mail.From.Resolve", ""), "0");
    EXPECT_EQ(set.smtpd.GetString("Rcpt.To.Reply.NonLocal", ""), "251 forwarded");

    ASSERT_TRUE(dialog.OnOk(user));
    EXPECT_EQ(Keys(set.smtpd), order);
    EXPECT_EQ(set.smtpd.GetString("MaskDomain", ""), "mask.example.test");
    user.VerifyAllMet();
}

} // namespace
