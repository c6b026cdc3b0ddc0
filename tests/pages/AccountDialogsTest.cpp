// The four dialogs of the domains tab without a window: their limits, the enable and fold rules
// of the account dialogs, the names and settings they hand to the page, and what OnOk refuses.
#include "pages/AccountDialogs.h"

#include "Common/Ansi.h"
#include "tests/ScriptedPrompter.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using D = CAccountDlgBase;

// Takes the given texts as the controls would hand them over; every other field keeps its value.
std::optional<std::string> Take(CFieldModel& dialog, CPrompter& prompter,
                                 std::map<std::string, std::string> typed) {
    return dialog.TakeFields(
        [&](const CFieldSpec& field) {
            auto it = typed.find(field.id);
            return it != typed.end() ? it->second : dialog.Value(field.id);
        },
        prompter);
}

TEST(AccountDialogs, LimitsOfTheTables) {
    CScriptedPrompter user;
    CAddAccountDlg add("example.test");
    user.ExpectText("64 Zeichen");
    EXPECT_EQ(Take(add, user, {{CAddAccountDlg::kLocalPart, std::string(65, 'a')}}),
              CAddAccountDlg::kLocalPart);
    for (const char* bad : {"12a", "-1", "2147483648"}) {
        user.ExpectText("zwischen 0 und 2147483647");
        EXPECT_EQ(Take(add, user, {{D::kQuota, bad}}), D::kQuota) << bad;
    }
    // The arrows stop at 32767, but a larger quota an account already has is kept.
    EXPECT_EQ(Take(add, user, {{D::kQuota, "50000"}, {D::kSize, " 0 "}}), std::nullopt);
    EXPECT_EQ(add.Number(D::kQuota), 50000);
    const CFieldSpec* size = add.FindField(D::kSize);
    EXPECT_EQ(size->arrowMinimum, 0);
    EXPECT_EQ(size->arrowMaximum, 32767);
    EXPECT_TRUE(add.FindField(D::kPassword)->flags & kFieldMasked);
    EXPECT_TRUE(add.FindField(D::kReplyText)->flags & kFieldMultiLine);

    // The domain is the caller's: whatever the control holds, it is not taken.
    EXPECT_EQ(Take(add, user, {{CAddAccountDlg::kDomain, "other.test"}}), std::nullopt);
    EXPECT_EQ(add.Value(CAddAccountDlg::kDomain), "example.test");

    // The password file holds four digits per character: 128 and no more, in both dialogs.
    user.ExpectText("128 Zeichen");
    EXPECT_EQ(Take(add, user, {{D::kPassword, std::string(129, 'p')}}), D::kPassword);
    EXPECT_EQ(Take(add, user, {{D::kPassword, std::string(128, 'p')}}), std::nullopt);
    CChangeAccountDlg change("info@example.test", "info.example.test");
    user.ExpectText("128 Zeichen");
    EXPECT_EQ(Take(change, user, {{D::kPassword, std::string(129, 'p')}}), D::kPassword);

    // Only the reply text may hold line breaks; a subject with one would add a header line.
    EXPECT_EQ(Take(add, user, {{D::kReplyText, "Bin fort.\r\n\r\nGru\xDF"}}), std::nullopt);
    user.ExpectText("Zeilenumbr\xFC");
    EXPECT_EQ(Take(add, user, {{D::kReplySubject, "Fort\r\nBcc: x@example.test"}}),
              D::kReplySubject);

    CAddAliasDlg alias("example.test");
    user.ExpectText("129 Zeichen");
    EXPECT_EQ(Take(alias, user, {{CAddAliasDlg::kTarget, std::string(130, 'a')}}),
              CAddAliasDlg::kTarget);
    // A line break in the target would write a second alias line.
    user.ExpectText("Zeilenumbr\xFC");
    EXPECT_EQ(
        Take(alias, user, {{CAddAliasDlg::kTarget, "info@example.test\r\nevil@example.test:\tpm"}}),
        CAddAliasDlg::kTarget);
    // The target is taken first: a too long local part is not even looked at.
    EXPECT_EQ(alias.Fields().front().id, std::string(CAddAliasDlg::kTarget));
    CAddDomainDlg domain;
    user.ExpectText("64 Zeichen");
    EXPECT_EQ(Take(domain, user, {{CAddDomainDlg::kDomainName, std::string(65, 'd')}}),
              CAddDomainDlg::kDomainName);
}

TEST(AccountDialogs, LimitsAndReplyFollowTheirBoxes) {
    CAddAccountDlg dialog("example.test");
    for (const char* id : {D::kQuota, D::kSize, D::kReplySubject, D::kReplyText})
        EXPECT_FALSE(dialog.IsEnabled(id)) << id;
    EXPECT_FALSE(dialog.IsVisible(D::kReplyArea));

    dialog.FieldChanged(D::kQuotaOn, "1");
    EXPECT_TRUE(dialog.IsEnabled(D::kQuota));
    EXPECT_FALSE(dialog.IsEnabled(D::kSize));
    dialog.FieldChanged(D::kReply, "1");
    EXPECT_TRUE(dialog.IsEnabled(D::kReplySubject));
    EXPECT_TRUE(dialog.IsEnabled(D::kReplyText));
    EXPECT_TRUE(dialog.IsVisible(D::kReplyArea));
    dialog.FieldChanged(D::kReply, "0");
    EXPECT_FALSE(dialog.IsVisible(D::kReplyArea));
    dialog.FieldChanged(D::kQuotaOn, "0");
    EXPECT_FALSE(dialog.IsEnabled(D::kQuota));

    // A change dialog filled with reply on opens unfolded once the page derives the states.
    CChangeAccountDlg change("info@example.test", "info.example.test");
    change.SetChecked(D::kReply, true);
    change.UpdateStates();
    EXPECT_TRUE(change.IsVisible(D::kReplyArea));
}

TEST(AccountDialogs, NamesAndSettingsHandedToThePage) {
    CAddAccountDlg dialog("Mail.Example.TEST");
    dialog.SetValue(CAddAccountDlg::kLocalPart, "Info");
    EXPECT_EQ(dialog.AccountName(), "info.mail.example.test");
    EXPECT_EQ(dialog.Address(), "info@mail.example.test");
    dialog.SetValue(CAddAccountDlg::kLocalPart, "*");
    EXPECT_EQ(dialog.AccountName(), "mail.example.test");
    CAddAccountDlg root("*");
    root.SetValue(CAddAccountDlg::kLocalPart, "admin");
    EXPECT_EQ(root.AccountName(), "admin");
    EXPECT_EQ(root.Address(), "");

    // Only what is ticked is stored on creation; a change stores all three.
    dialog.SetChecked(D::kSizeOn, true);
    dialog.SetNumber(D::kSize, 2048);
    dialog.SetNumber(D::kQuota, 99); // box clear: not stored
    const AccountSettings created = dialog.CreationSettings();
    EXPECT_EQ(created.flags, unsigned{AccountSettings::kStoreMaxSize});
    EXPECT_EQ(created.maxSize, 2048);

    CChangeAccountDlg change("info@example.test", "info.example.test");
    change.SetChecked(D::kSaveEnvelope, true);
    change.SetNumber(D::kQuota, 99);
    const AccountSettings changed = change.ChangeSettings();
    EXPECT_EQ(changed.flags, 7u);
    EXPECT_EQ(changed.saveEnvelope, 1);
    EXPECT_EQ(changed.quota, 0);
    EXPECT_EQ(changed.maxSize, 0);
}

TEST(AccountDialogs, DomainNamesThatCannotWorkAreRefused) {
    for (const char* bad : {"", "a b.test", "a\tb", "x@example.test", "a/b", "a\\b", ".example.test",
                            "example.test.", "a\x01.test"})
        EXPECT_TRUE(accountdlg::DomainNameRefusal(bad)) << bad;
    for (const char* good : {"example.test", "mx-1.example.test", "localhost"})
        EXPECT_FALSE(accountdlg::DomainNameRefusal(good)) << good;

    CScriptedPrompter user;
    CAddDomainDlg dialog;
    dialog.SetValue(CAddDomainDlg::kDomainName, "bad name");
    user.ExpectText("\"bad name\"");
    EXPECT_FALSE(dialog.OnOk(user));
    dialog.SetValue(CAddDomainDlg::kDomainName, "Example.TEST"); // the page lowers it
    EXPECT_TRUE(dialog.OnOk(user));
    // A name the page knows already is refused in the dialog, whatever its letter case.
    dialog.SetExisting([](const std::string& name) { return name == "example.test"; });
    user.ExpectMessage(142, MessageKind::Error, Answer::Ok);
    EXPECT_FALSE(dialog.OnOk(user));
    dialog.SetValue(CAddDomainDlg::kDomainName, "other.test");
    EXPECT_TRUE(dialog.OnOk(user));
}

TEST(AccountDialogs, PasswordsThePasswordFileCannotKeepAreRefused) {
    CScriptedPrompter user;
    CAddAccountDlg dialog("example.test");
    dialog.SetValue(CAddAccountDlg::kLocalPart, "info");
    dialog.SetValue(D::kPassword, "geheim");
    EXPECT_TRUE(dialog.OnOk(user));
    // An empty password is refused by the dialog, which then stays open with what was typed.
    dialog.SetValue(D::kPassword, "");
    user.ExpectMessage(147, MessageKind::Error, Answer::Ok);
    EXPECT_FALSE(dialog.OnOk(user));
    EXPECT_EQ(dialog.TakeRefusedField(), D::kPassword) << "the view puts the focus there";
    EXPECT_EQ(dialog.TakeRefusedField(), std::nullopt);
    CChangeAccountDlg emptied("info@example.test", "info.example.test");
    user.ExpectMessage(150, MessageKind::Error, Answer::Ok);
    EXPECT_FALSE(emptied.OnOk(user));

    dialog.SetValue(D::kPassword, "s\xFC\xDF");
    user.ExpectText("Das Passwort darf nur Zeichen des ASCII");
    EXPECT_FALSE(dialog.OnOk(user));

    // An umlaut in the name garbles every password byte it is multiplied with.
    dialog.SetValue(CAddAccountDlg::kLocalPart, "m\xFCller");
    dialog.SetValue(D::kPassword, "abc");
    user.ExpectText("\"m\xFCller.example.test\"");
    EXPECT_FALSE(dialog.OnOk(user));

    CChangeAccountDlg change("j\xF6rg", "j\xF6rg");
    change.SetValue(D::kPassword, "secret");
    user.ExpectText("\"j\xF6rg\"");
    EXPECT_FALSE(change.OnOk(user));
}

TEST(AccountDialogs, LocalPartsThatCannotBeStoredAreRefused) {
    CScriptedPrompter user;
    CAddAccountDlg account("*");
    account.SetValue(D::kPassword, "secret");
    for (const char* bad : {"", ".hidden", "a/b", "a\\b", "a b", "a@b", "a\x7F"}) {
        account.SetValue(CAddAccountDlg::kLocalPart, bad);
        user.ExpectText(bad[0] ? "kann kein Konto angelegt werden" : "Bitte geben Sie eine Adresse");
        EXPECT_FALSE(account.OnOk(user)) << bad;
        user.VerifyAllMet();
    }
    CAddAliasDlg alias("example.test");
    alias.SetValue(CAddAliasDlg::kTarget, "info@example.test");
    for (const char* bad : {"", "a b", "a@b"}) {
        alias.SetValue(CAddAliasDlg::kLocalPart, bad);
        user.ExpectText("Alias-Adresse ohne Leerzeichen");
        EXPECT_FALSE(alias.OnOk(user)) << bad;
    }
    alias.SetValue(CAddAliasDlg::kLocalPart, "*");
    EXPECT_TRUE(alias.OnOk(user));
    // In a domain the target must be an address; at the root an account name will do.
    alias.SetValue(CAddAliasDlg::kTarget, "info.example.test");
    user.ExpectMessage(149, MessageKind::Error, Answer::Ok);
    EXPECT_FALSE(alias.OnOk(user));
    CAddAliasDlg rootAlias("*");
    rootAlias.SetValue(CAddAliasDlg::kLocalPart, "info");
    rootAlias.SetValue(CAddAliasDlg::kTarget, "info.example.test");
    EXPECT_TRUE(rootAlias.OnOk(user));
}

TEST(AccountDialogs, ColonsAndWildcardsOnlyWhereTheyMeanSomething) {
    // A ":" would cut the key of an "aliases" line short, in any of the three names.
    CScriptedPrompter user;
    CAddAliasDlg alias("example.test");
    alias.SetValue(CAddAliasDlg::kTarget, "info@example.test");
    alias.SetValue(CAddAliasDlg::kLocalPart, "a:b");
    user.ExpectText("\":\"");
    EXPECT_FALSE(alias.OnOk(user));
    EXPECT_TRUE(accountdlg::DomainNameRefusal("example.test:25"));
    // An alias may be a pattern.
    for (const char* pattern : {"*", "info*", "?x"}) {
        alias.SetValue(CAddAliasDlg::kLocalPart, pattern);
        EXPECT_TRUE(alias.OnOk(user)) << pattern;
    }

    // An account may not: only "*" alone, the account of the domain itself.
    CAddAccountDlg account("example.test");
    account.SetValue(D::kPassword, "secret");
    for (const char* bad : {"a:b", "info*", "a?c", "**", "?"}) {
        account.SetValue(CAddAccountDlg::kLocalPart, bad);
        user.ExpectText("\"*\", \"?\"");
        EXPECT_FALSE(account.OnOk(user)) << bad;
        user.VerifyAllMet();
    }
    account.SetValue(CAddAccountDlg::kLocalPart, "*");
    EXPECT_TRUE(account.OnOk(user));
    EXPECT_EQ(account.AccountName(), "example.test");
    // At the root no domain stands behind it: it would be a folder named "*".
    CAddAccountDlg root("*", "*");
    root.SetValue(D::kPassword, "secret");
    user.ExpectText("kann kein Konto angelegt werden");
    EXPECT_FALSE(root.OnOk(user));
}

} // namespace
