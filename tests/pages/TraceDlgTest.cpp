// The trace window without a window: what it shows for addresses of a set held in memory, and
// what it refuses before tracing.
#include "pages/TraceDlg.h"

#include "Common/Ansi.h"
#include "tests/ScriptedPrompter.h"
#include "tests/TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

class TraceDlgTest : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(spool + "/anna");
        set.mdad.SetString("SpoolDir", spool);
        set.users.Refresh();
        set.domains.AddTail("example.test");
    }
    // Types address and traces it as "Verfolgen" does; the cells of the list, one
    // "step | decided by" each.
    std::vector<std::string> Trace(CTraceDlg& dialog, const std::string& address) {
        dialog.FieldChanged(CTraceDlg::kAddress, address);
        dialog.RunCommand(CTraceDlg::kTrace, user);
        std::vector<std::string> cells;
        for (std::size_t row = 0; row < dialog.rows().RowCount(); ++row)
            cells.push_back(dialog.rows().CellText(row, 0) + " | " +
                            dialog.rows().CellText(row, 1));
        return cells;
    }

    testutil::TempDir dir;
    std::string spool = dir / "spool";
    CConfigSet set;
    CScriptedPrompter user;
};

TEST_F(TraceDlgTest, AnAliasAddedInMemoryIsTracedWithoutASave) {
    set.aliases.SetAt("info@example.test", "anna");
    CTraceDlg dialog(set, "Info@Example.Test");
    dialog.OnOpen(user);                     // traced as the window opens
    ASSERT_EQ(dialog.rows().RowCount(), 3u); // the domain, the alias, the account
    EXPECT_EQ(dialog.rows().CellText(1, 1), "aliases: info@example.test");
    EXPECT_EQ(dialog.rows().CellText(2, 1), "Konto: anna");
    EXPECT_EQ(dialog.Value(CTraceDlg::kResult), "Die Mail landet im Postfach des Kontos \"anna\".");

    // A forwarding that comes back, and an address of another domain.
    set.aliases.SetAt("a@example.test", "b@example.test");
    set.aliases.SetAt("b@example.test", "a@example.test");
    EXPECT_NE(Trace(dialog, "a@example.test").back().find("Schleife"), std::string::npos);
    EXPECT_EQ(dialog.Value(CTraceDlg::kResult),
              "Die Weiterleitungen bilden eine Schleife: die Mail kommt nie an.");
    Trace(dialog, "bob@fremd.test");
    EXPECT_EQ(dialog.Value(CTraceDlg::kResult), ansi::FromUtf8("Die Mail verlässt den Server."));
    // The steps are shown in the code page of the lists.
    EXPECT_NE(dialog.rows().CellText(1, 0).find("verl\xE4sst"), std::string::npos);
    Trace(dialog, "niemand@example.test");
    EXPECT_EQ(dialog.Value(CTraceDlg::kResult), "Die Mail wird abgewiesen.");
    user.VerifyAllMet();
}

TEST_F(TraceDlgTest, WhatCannotBeTracedIsRefusedAndEmptiesTheList) {
    CTraceDlg dialog(set);
    EXPECT_FALSE(dialog.IsEnabled(CTraceDlg::kTrace)) << "nothing to trace yet";
    dialog.OnOpen(user); // no address: no message, nothing traced
    EXPECT_EQ(dialog.rows().RowCount(), 0u);

    Trace(dialog, "bob@fremd.test");
    ASSERT_GT(dialog.rows().RowCount(), 0u);
    user.ExpectText(ansi::FromUtf8("\"a b@example.test\" ist keine gültige E-Mail-Adresse."));
    EXPECT_TRUE(Trace(dialog, "a b@example.test").empty());
    EXPECT_EQ(dialog.Value(CTraceDlg::kResult), "");
    for (const char* bad : {"@example.test", "a@b@example.test", "a@", "a@.example.test"}) {
        user.ExpectText(ansi::FromUtf8("keine gültige E-Mail-Adresse"));
        EXPECT_TRUE(Trace(dialog, bad).empty()) << bad;
    }
    // Too long for an envelope: named by its length, not quoted in full.
    user.ExpectText("mit 10000 Zeichen zu lang");
    EXPECT_TRUE(Trace(dialog, std::string(9987, 'x') + "@example.test").empty());
    // A character the code page lacks arrives as "?" and is not traced as something else.
    user.ExpectText(ansi::FromUtf8("enthält ein \"?\""));
    EXPECT_TRUE(Trace(dialog, "m?ller@example.test").empty());
    user.VerifyAllMet();
    EXPECT_EQ(user.kinds.back(), MessageKind::Warning);
}

TEST(TraceAddressRefusal, AcceptsWhatAnEnvelopeCarries) {
    const std::string longest = std::string(254 - 13, 'x') + "@example.test";
    for (const std::string& good :
         {std::string("anna@example.test"), std::string("postmaster"), longest})
        EXPECT_FALSE(TraceAddressRefusal(good)) << good;
    EXPECT_TRUE(TraceAddressRefusal("x" + longest));
}

} // namespace
