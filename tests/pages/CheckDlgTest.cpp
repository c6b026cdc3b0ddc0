// The check window without a window: the counts, the order of the findings and "Gehe zu".
#include "pages/CheckDlg.h"

#include "tests/ScriptedPrompter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

CFinding Make(Severity severity, const char* code, std::string key = {}) {
    return {severity, code, "smtpd.cfg", std::move(key), "Die Prüfung fand etwas."};
}

TEST(CheckDlg, SummaryCountsEachSeverityInGerman) {
    const CFinding critical = Make(Severity::Critical, "c");
    const CFinding warning = Make(Severity::Warning, "w");
    EXPECT_EQ(FindingsSummary({}), "Keine Befunde");
    EXPECT_EQ(FindingsSummary({critical}), "1 kritischer Befund");
    EXPECT_EQ(FindingsSummary({critical, critical}), "2 kritische Befunde");
    EXPECT_EQ(FindingsSummary({warning}), "1 Warnung");
    EXPECT_EQ(FindingsSummary({warning, warning}), "2 Warnungen");
    EXPECT_EQ(FindingsSummary({warning, critical, warning}), "1 kritischer Befund, 2 Warnungen");
}

TEST(CheckDlg, CriticalFindingsComeFirstInTheOrderOfTheCheck) {
    CCheckDlg dialog({Make(Severity::Warning, "w1"), Make(Severity::Critical, "c1", "Relay"),
                      Make(Severity::Warning, "w2"), Make(Severity::Critical, "c2")});
    const CFindingRows& rows = dialog.rows();
    ASSERT_EQ(rows.RowCount(), 4u);
    std::string order;
    for (std::size_t row = 0; row < rows.RowCount(); ++row)
        order += std::string(rows.Finding(row).code) + " ";
    EXPECT_EQ(order, "c1 c2 w1 w2 ");
    EXPECT_EQ(rows.RowIcon(0), CFindingRows::kCriticalIcon);
    EXPECT_EQ(rows.RowIcon(3), CFindingRows::kWarningIcon);
    EXPECT_EQ(rows.CellText(0, 0), "smtpd.cfg");
    EXPECT_EQ(rows.CellText(0, 1), "Relay");
    EXPECT_EQ(rows.CellText(0, 2), "Die Pr\374fung fand etwas.") << "in the code page";
    EXPECT_EQ(dialog.Value(CCheckDlg::kSummary), "2 kritische Befunde, 2 Warnungen");
}

TEST(CheckDlg, GoToNotesTheSelectedFindingAndEndsTheDialogWithOk) {
    CScriptedPrompter user;
    CCheckDlg dialog({Make(Severity::Warning, "w"), Make(Severity::Critical, "c")});
    bool ended = false;
    dialog.SetEndHandler([&ended] { ended = true; });
    EXPECT_FALSE(dialog.IsEnabled(CCheckDlg::kGoTo)) << "nothing selected";
    dialog.RunCommand(CCheckDlg::kGoTo, user);
    EXPECT_FALSE(dialog.Chosen());
    EXPECT_FALSE(ended);

    dialog.RowsOf(CCheckDlg::kFindings)->Select(1);
    dialog.SelectionChanged(CCheckDlg::kFindings, user);
    dialog.RunCommand(CCheckDlg::kGoTo, user);
    ASSERT_TRUE(dialog.Chosen());
    EXPECT_STREQ(dialog.Chosen()->code, "w");
    EXPECT_TRUE(dialog.EndedWithOk());
    EXPECT_TRUE(ended);
    EXPECT_TRUE(dialog.CloseOnly());

    // Nothing found: an empty list under its count.
    CCheckDlg clean({});
    EXPECT_EQ(clean.rows().RowCount(), 0u);
    EXPECT_EQ(clean.Value(CCheckDlg::kSummary), "Keine Befunde");
}

} // namespace
