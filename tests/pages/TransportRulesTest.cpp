// The transport rules without a window: both readings of a "smarthosts" value, what the editor
// writes back and where, and the list dialog driven through the scripted user.
#include "pages/TransportRules.h"

#include "tests/ScriptedPrompter.h"
#include "tests/TestUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using R = CTransportRuleDlg;
using Entries = std::vector<std::pair<std::string, std::string>>;

Entries EntriesOf(const CMapEx& map) {
    Entries entries;
    std::string key, value;
    for (auto position = map.GetStartPosition(); position;) {
        map.GetNextAssoc(position, key, value);
        entries.emplace_back(key, value);
    }
    return entries;
}

void Fill(CConfigMap& map, const Entries& entries) {
    for (const auto& [key, value] : entries)
        map.SetAt(key, value);
}

TEST(TransportRules, BothReadingsOfAValue) {
    auto rule = transport::ReadValue("host:465s");
    EXPECT_FALSE(rule.logsIn);
    EXPECT_EQ(rule.server, "host");
    EXPECT_EQ(rule.port, 465);
    EXPECT_TRUE(rule.ssl);
    auto cells = transport::ReadListCells("host:465s");
    EXPECT_EQ(cells.server, "host");
    EXPECT_EQ(cells.port, "465");
    EXPECT_EQ(cells.login, "");

    // A login that is itself an address keeps its "@".
    rule = transport::ReadValue("me@example.test:pw@relay.test:587");
    EXPECT_TRUE(rule.logsIn);
    EXPECT_EQ(rule.login, "me@example.test");
    EXPECT_EQ(rule.password, "pw");
    EXPECT_EQ(rule.server, "relay.test");
    EXPECT_EQ(rule.port, 587);
    EXPECT_FALSE(rule.ssl);

    // Neither ":" nor "@": the server alone on port 25.
    rule = transport::ReadValue("relay.test");
    EXPECT_EQ(rule.server, "relay.test");
    EXPECT_EQ(rule.port, 25);
    EXPECT_EQ(transport::ReadListCells("relay.test").port, "25");

    // Several "@" and ":": the editor takes the first ":" behind the server, the list the last.
    rule = transport::ReadValue("a:b@c@host:25:x");
    EXPECT_EQ(rule.login, "a");
    EXPECT_EQ(rule.password, "b@c");
    EXPECT_EQ(rule.server, "host");
    EXPECT_EQ(rule.port, 25);
    cells = transport::ReadListCells("a:b@c@host:25:x");
    EXPECT_EQ(cells.server, "host:25");
    EXPECT_EQ(cells.port, "0");
    EXPECT_EQ(cells.login, "a");
    // A port with a sign reads as signed, one without digits as 0; an empty server stays empty.
    EXPECT_EQ(transport::ReadValue("host:-5").port, -5);
    EXPECT_EQ(transport::ReadListCells("host:-5").port, "-5");
    EXPECT_EQ(transport::ReadValue("host:+587s").port, 587);
    EXPECT_EQ(transport::ReadValue("host:s").port, 0);
    EXPECT_EQ(transport::ReadValue(":25").server, "");

    // Whatever the program writes, both readings agree on server, port and login.
    for (const transport::RuleValue& written :
         {transport::RuleValue{true, "u\xE4", "", "h\xF6st", 587, true},
          transport::RuleValue{true, "me@x.test", "p:w", "relay", 25, false},
          transport::RuleValue{false, "", "", "relay", 65535, true}}) {
        const std::string value = transport::BuildValue(written);
        rule = transport::ReadValue(value);
        cells = transport::ReadListCells(value);
        EXPECT_EQ(rule.server, written.server) << value;
        EXPECT_EQ(cells.server, written.server) << value;
        EXPECT_EQ(rule.port, written.port) << value;
        EXPECT_EQ(cells.port, std::to_string(written.port)) << value;
        EXPECT_EQ(rule.login, written.login) << value;
        EXPECT_EQ(cells.login, written.logsIn ? written.login.substr(0, written.login.find(':'))
                                              : "")
            << value;
        EXPECT_EQ(rule.password, written.password) << value;
        EXPECT_EQ(rule.ssl, written.ssl) << value;
    }
    // Logging in with an empty password leaves nothing between ":" and "@".
    EXPECT_EQ(transport::BuildValue({true, "user", "", "host", 587, false}), "user:@host:587");
}

TEST(TransportRules, EditorFieldsAndLoginStates) {
    CTransportRuleDlg fresh;
    EXPECT_EQ(fresh.Value(R::kDependency), "0");
    EXPECT_EQ(fresh.Number(R::kPort), 25);
    EXPECT_FALSE(fresh.IsEnabled(R::kLogin));
    EXPECT_FALSE(fresh.IsEnabled(R::kPassword));
    fresh.FieldChanged(R::kLogsIn, "1");
    EXPECT_TRUE(fresh.IsEnabled(R::kLogin));
    EXPECT_TRUE(fresh.IsEnabled(R::kPassword));
    EXPECT_TRUE(fresh.FindField(R::kPassword)->flags & kFieldMasked);
    EXPECT_EQ(fresh.FindField(R::kPort)->maximum, 65535);

    CTransportRuleDlg opened(nullptr, ">dom", "u:p@host:465s");
    EXPECT_EQ(opened.Value(R::kDependency), "1");
    EXPECT_EQ(opened.OpeningDependency(), transport::kRecipient);
    EXPECT_EQ(opened.Value(R::kDomain), "dom");
    EXPECT_EQ(opened.Value(R::kLogin), "u");
    EXPECT_EQ(opened.Value(R::kSsl), "1");
    EXPECT_TRUE(opened.IsEnabled(R::kLogin));

    // The drop-down offers "*" and the local domains, sorted without regard to case.
    CDomainList domains;
    domains.AddTail("b.test");
    domains.AddTail("A.test");
    CTransportRuleDlg offering(&domains);
    EXPECT_EQ(offering.Suggestions(R::kDomain),
              (std::vector<std::string>{"*", "A.test", "b.test"}));
}

TEST(TransportRules, StoreRuleReplacesExactlyItsEntryInPlace) {
    CConfigMap map;
    Fill(map, {{"first", "a:25"}, {">dom", "old:25"}, {"<dom", "sender:25"}, {"last", "z:25"}});

    // ">dom" stored again as a recipient rule becomes "dom" at its place; "<dom" stays.
    CTransportRuleDlg edit(nullptr, ">dom", "old:25");
    edit.SetValue(R::kServer, "new");
    edit.StoreRule(map);
    EXPECT_EQ(EntriesOf(map), (Entries{{"first", "a:25"}, {"dom", "new:25"},
                                       {"<dom", "sender:25"}, {"last", "z:25"}}));

    // Changing the domain of a rule replaces the entry it was opened on, in its place.
    CTransportRuleDlg rename(nullptr, "first", "a:25");
    rename.SetValue(R::kDomain, "other");
    rename.StoreRule(map);
    EXPECT_EQ(EntriesOf(map), (Entries{{"other", "a:25"}, {"dom", "new:25"},
                                       {"<dom", "sender:25"}, {"last", "z:25"}}));

    // A recipient rule turned into a sender rule takes the place of the old one and replaces
    // the sender rule that was there and the ">" form of the recipient rule; nothing else goes.
    map.SetAt(">dom", "stale:25");
    CTransportRuleDlg turn(nullptr, "dom", "new:25");
    turn.SetValue(R::kDependency, "0");
    turn.StoreRule(map);
    EXPECT_EQ(EntriesOf(map), (Entries{{"other", "a:25"}, {"<dom", "new:25"}, {"last", "z:25"}}));

    // A new recipient rule leaves the sender rule of its domain alone; a new sender rule
    // replaces the one with its key where it stands.
    CTransportRuleDlg recipient;
    recipient.SetValue(R::kDependency, "1");
    recipient.SetValue(R::kDomain, "dom");
    recipient.SetValue(R::kServer, "in");
    recipient.StoreRule(map);
    CTransportRuleDlg sender;
    sender.SetValue(R::kDomain, "dom");
    sender.SetValue(R::kServer, "out");
    sender.FieldChanged(R::kLogsIn, "1");
    sender.SetValue(R::kLogin, "user");
    sender.StoreRule(map);
    EXPECT_EQ(EntriesOf(map), (Entries{{"other", "a:25"}, {"<dom", "user:@out:25"},
                                       {"last", "z:25"}, {"dom", "in:25"}}));
    // Storing twice gives the same map.
    sender.StoreRule(map);
    EXPECT_EQ(EntriesOf(map).size(), 4u);
}

TEST(TransportRules, EditorRefusesWhatCouldNotBeReadBack) {
    CScriptedPrompter user;
    CTransportRuleDlg rule;
    rule.SetValue(R::kDomain, "dom");
    user.ExpectText("SMTP-Server an");
    EXPECT_FALSE(rule.OnOk(user));
    rule.SetValue(R::kServer, "host:25");
    user.ExpectText("\":\" oder \"@\"");
    EXPECT_FALSE(rule.OnOk(user));
    rule.SetValue(R::kServer, "h\xF6st");
    rule.SetValue(R::kDomain, "");
    user.ExpectText("Domain an");
    EXPECT_FALSE(rule.OnOk(user));
    rule.SetValue(R::kDomain, "d\xE9.test");
    rule.FieldChanged(R::kLogsIn, "1");
    rule.SetValue(R::kLogin, "a:b");
    user.ExpectText("Login darf kein");
    EXPECT_FALSE(rule.OnOk(user));
    // A password with "@" and ":" reads back: both readings split at the last "@".
    rule.SetValue(R::kLogin, "me@x.test");
    rule.SetValue(R::kPassword, "p@:w");
    EXPECT_TRUE(rule.OnOk(user));
    EXPECT_EQ(transport::ReadValue(transport::BuildValue(rule.Rule())).password, "p@:w");
    EXPECT_EQ(transport::ReadListCells(transport::BuildValue(rule.Rule())).login, "me@x.test");
    // The port range is the exchange's: a sign or no digits are refused with the range.
    for (const char* port : {"-1", "65536", "abc"}) {
        user.ExpectText("zwischen 0 und 65535");
        EXPECT_EQ(rule.TakeFields(
                      [&](const CFieldSpec& field) {
                          return field.id == std::string(R::kPort) ? std::string(port)
                                                                   : rule.Value(field.id);
                      },
                      user),
                  R::kPort);
    }
    user.VerifyAllMet();
}

struct RulesDialog : ::testing::Test {
    CConfigSet set;
    CScriptedPrompter user;
    testutil::TempDir dir;
};

TEST_F(RulesDialog, ListShowsTheMapInOrderAndRemovesExactlyTheEntryOfARow) {
    Fill(set.smarthosts,
         {{"<s.test", "host:465s"}, {">r.test", "u:p@relay:587"}, {"b.test", "plain"}});
    CTransportRulesDlg rules(set);
    rules.OnOpen(user);
    CTransportRuleRows& rows = rules.rows();
    ASSERT_EQ(rows.RowCount(), 3u);
    const std::vector<std::string> first{"Absender", "s.test", "host", "465", ""};
    for (std::size_t column = 0; column < 5; ++column)
        EXPECT_EQ(rows.CellText(0, column), first[column]);
    EXPECT_EQ(rows.CellText(1, 0), "Empf\xE4nger");
    EXPECT_EQ(rows.CellText(1, 1), "r.test");
    EXPECT_EQ(rows.CellText(1, 4), "u");
    EXPECT_EQ(rows.CellText(2, 1), "b.test");
    EXPECT_EQ(rows.CellText(2, 3), "25");
    EXPECT_EQ(rows.RowIcon(0), CTransportRuleRows::kSenderIcon);
    EXPECT_EQ(rows.RowIcon(1), CTransportRuleRows::kRecipientIcon);
    EXPECT_EQ(rows.RowIcon(2), CTransportRuleRows::kRecipientIcon);

    // Nothing selected: remove and edit are off and do nothing.
    EXPECT_FALSE(rules.IsEnabled(CTransportRulesDlg::kRemove));
    EXPECT_FALSE(rules.IsEnabled(CTransportRulesDlg::kEdit));
    rules.RunCommand(CTransportRulesDlg::kRemove, user);
    EXPECT_EQ(set.smarthosts.GetCount(), 3u);

    rows.Select(1);
    rules.SelectionChanged(CTransportRulesDlg::kRules, user);
    EXPECT_TRUE(rules.IsEnabled(CTransportRulesDlg::kRemove));
    rules.RunCommand(CTransportRulesDlg::kRemove, user);
    EXPECT_EQ(EntriesOf(set.smarthosts),
              (Entries{{"<s.test", "host:465s"}, {"b.test", "plain"}}));
    EXPECT_TRUE(rules.Changed());
    EXPECT_FALSE(rules.IsEnabled(CTransportRulesDlg::kEdit));
}

TEST_F(RulesDialog, AddAndEditThroughTheEditorAndSaveWhatWasTyped) {
    testutil::WriteBytes(dir / "smarthosts",
                         "# Relais\r\n<dom.test:\told:25\r\nfirst:\tkeep:25\r\n");
    ASSERT_TRUE(set.smarthosts.Load(dir / "smarthosts"));
    set.domains.AddTail("dom.test");
    CTransportRulesDlg rules(set);

    // A new recipient rule: first refused for its empty server, then accepted.
    int asked = 0;
    user.ExpectDialog([&](CDialogModel& dialog) {
        ++asked;
        EXPECT_EQ(dialog.Suggestions(R::kDomain), (std::vector<std::string>{"*", "dom.test"}));
        dialog.SetValue(R::kDependency, "1");
        dialog.SetValue(R::kDomain, "dom.test");
        return true;
    });
    user.ExpectText("SMTP-Server an");
    user.ExpectDialog([&](CDialogModel& dialog) {
        ++asked;
        dialog.SetValue(R::kServer, "m\xFC.test");
        return true;
    });
    rules.RunCommand(CTransportRulesDlg::kAdd, user);
    EXPECT_EQ(asked, 2);
    ASSERT_EQ(rules.rows().Selected(), std::optional<std::size_t>(2));

    // Editing the sender rule and changing its domain replaces it where it stands, also in the
    // saved file with its comment.
    rules.rows().Select(0);
    rules.SelectionChanged(CTransportRulesDlg::kRules, user);
    user.ExpectDialog([](CDialogModel& dialog) {
        EXPECT_EQ(dialog.Value(R::kServer), "old");
        dialog.SetValue(R::kDomain, "*");
        return true;
    });
    rules.RunCommand(CTransportRulesDlg::kEdit, user);
    // Cancel changes nothing.
    rules.rows().Select(1);
    rules.SelectionChanged(CTransportRulesDlg::kRules, user);
    user.ExpectDialog([](CDialogModel& dialog) {
        dialog.SetValue(R::kServer, "gone");
        return false;
    });
    rules.RunCommand(CTransportRulesDlg::kEdit, user);
    user.VerifyAllMet();

    ASSERT_TRUE(set.smarthosts.Save(false));
    EXPECT_EQ(testutil::ReadBytes(dir / "smarthosts"),
              "# Relais\r\n<*:\t\told:25\r\nfirst:\t\tkeep:25\r\ndom.test:\tm\xFC.test:25\r\n");
}

TEST_F(RulesDialog, AnEntryThatCannotBeKeptAsItIsIsToldBeforeItIsRewritten) {
    Fill(set.smarthosts, {{"dom", "a:b@c@host:25:x"}});
    CTransportRulesDlg rules(set);
    rules.rows().Select(0);
    rules.SelectionChanged(CTransportRulesDlg::kRules, user);
    user.ExpectText("a:b@c@host:25:x");
    user.ExpectDialog([](CDialogModel&) { return false; });
    rules.RunCommand(CTransportRulesDlg::kEdit, user);
    user.VerifyAllMet();
    EXPECT_EQ(EntriesOf(set.smarthosts), (Entries{{"dom", "a:b@c@host:25:x"}}));
}

} // namespace
