// The windows of the trace and the check: their forms bind every id, they close with
// "Schließen" only, Return in the address traces, and a double click on a finding ends the
// check with OK.
#include "gui/DesignedView.h"
#include "gui/DialogView.h"
#include "gui/FieldBinder.h"
#include "pages/CheckDlg.h"
#include "pages/TraceDlg.h"
#include "tests/ScriptedPrompter.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QtTest/QTest>

#include <gtest/gtest.h>

namespace {

TEST(TraceCheckForms, BothFormsBindEveryIdAndCloseOnly) {
    CConfigSet set;
    CTraceDlg trace(set);
    CCheckDlg check({{Severity::Warning, "w", "smtpd.cfg", "", "Eins."}});
    CScriptedPrompter prompter;
    for (CDialogModel* model :
         {static_cast<CDialogModel*>(&trace), static_cast<CDialogModel*>(&check)}) {
        SCOPED_TRACE(model->FormName());
        CDialogView dialog(*model, prompter);
        auto* designed = dynamic_cast<CDesignedView*>(dialog.view());
        ASSERT_NE(designed, nullptr) << "the form is built in";
        EXPECT_EQ(CFieldBinder::Mismatches(*model, *designed->form())
                      .join(QLatin1Char('\n'))
                      .toStdString(),
                  "");
        EXPECT_EQ(dialog.buttons()->button(QDialogButtonBox::Ok), nullptr);
        EXPECT_EQ(dialog.buttons()->button(QDialogButtonBox::Cancel), nullptr);
        ASSERT_NE(dialog.buttons()->button(QDialogButtonBox::Close), nullptr);
        EXPECT_EQ(dialog.buttons()->button(QDialogButtonBox::Close)->text(),
                  QString::fromUtf8("Schließen"));
    }
}

TEST(TraceCheckForms, ReturnInTheAddressTracesAndKeepsTheWindowOpen) {
    CConfigSet set;
    set.domains.AddTail("example.test");
    CTraceDlg model(set);
    CScriptedPrompter prompter;
    CDialogView dialog(model, prompter);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    auto* address = dialog.findChild<QLineEdit*>(QLatin1String(CTraceDlg::kAddress));
    ASSERT_NE(address, nullptr);
    address->setFocus();
    QTest::keyClicks(address, QStringLiteral("bob@fremd.test"));
    QTest::keyClick(address, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_GT(model.rows().RowCount(), 0u);
    auto* result = dialog.findChild<QLabel*>(QLatin1String(CTraceDlg::kResult));
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->text(), QString::fromUtf8("Die Mail verlässt den Server."));
}

TEST(TraceCheckForms, DoubleClickOnAFindingEndsTheCheckWithOk) {
    CCheckDlg model({{Severity::Warning, "w", "smtpd.cfg", "", "Eins."},
                     {Severity::Critical, "c", "mdad.cfg", "SpoolDir", "Zwei."}});
    CScriptedPrompter prompter;
    CDialogView dialog(model, prompter);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    auto* list = dialog.findChild<QTreeView*>(QLatin1String(CCheckDlg::kFindings));
    ASSERT_NE(list, nullptr);
    const QModelIndex first = list->model()->index(0, 0);
    list->setCurrentIndex(first);
    const QPoint at = list->visualRect(first).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    ASSERT_TRUE(model.Chosen());
    EXPECT_STREQ(model.Chosen()->code, "c") << "the critical finding is shown first";
}

} // namespace
