// The sheet and the generic form view with real widgets on the offscreen platform; the user is
// the scripted prompter.
#include "gui/FormView.h"
#include "gui/QtPrompter.h"
#include "gui/QuibrelDlg.h"
#include "pages/PageFolders.h"
#include "tests/ScriptedPrompter.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

// A page with one number field, accepted 2..100 but with arrows up to 1000, that counts its
// first showings and applies.
class CountingPage : public CPageModel {
public:
    explicit CountingPage(const char* caption) : m_caption(caption) { SetNumber("Threads", 10); }
    const char* Caption() const override { return m_caption; }
    std::span<const CFieldSpec> Fields() const override { return kFields; }
    void OnFirstShow(CPrompter&) override { ++firstShows; }
    bool OnApply(CPrompter&) override {
        ++applies;
        if (lockOnApply)
            LockCancel();
        return true;
    }
    int firstShows = 0;
    int applies = 0;
    bool lockOnApply = false;

private:
    static constexpr CFieldSpec kFields[] = {
        {"Threads", FieldType::Number, "&Threads:", 0, 0, 2, 100, 0, 1000}};
    const char* m_caption;
};

class Sheet : public testing::Test {
protected:
    Sheet() {
        pages.push_back(std::make_unique<CountingPage>("Erste"));
        pages.push_back(std::make_unique<CountingPage>("Zweite"));
        first = static_cast<CountingPage*>(pages[0].get());
        second = static_cast<CountingPage*>(pages[1].get());
    }
    QSpinBox* Spin(CQuibrelDlg& sheet, int page) {
        return sheet.view(page)->findChild<QSpinBox*>(QStringLiteral("Threads"));
    }

    std::vector<std::unique_ptr<CPageModel>> pages;
    CountingPage* first;
    CountingPage* second;
    CScriptedPrompter prompter;
};

} // namespace

TEST_F(Sheet, CarriesTheProgramsTitleIconTabsAndGermanButtons) {
    CQuibrelDlg sheet(pages, prompter);
    EXPECT_EQ(sheet.windowTitle(), QStringLiteral("Korvane MailServer 4.0 Configurator"));
    EXPECT_FALSE(sheet.windowIcon().isNull());
    ASSERT_EQ(sheet.tabs()->count(), 2);
    EXPECT_EQ(sheet.tabs()->tabText(0), QStringLiteral("Erste"));
    EXPECT_EQ(sheet.okButton()->text(), QStringLiteral("OK"));
    EXPECT_EQ(sheet.cancelButton()->text(), QStringLiteral("Abbrechen"));
    EXPECT_EQ(sheet.applyButton()->text(), QString::fromUtf8("Übernehmen"));
    EXPECT_FALSE(sheet.applyButton()->isEnabled());
}

TEST_F(Sheet, ApplyRunsOnlyForPagesThatWereShownAndEditsEnableIt) {
    CQuibrelDlg sheet(pages, prompter);
    sheet.show();
    sheet.ShowPage(0);
    EXPECT_EQ(first->firstShows, 1);
    EXPECT_EQ(second->firstShows, 0);
    Spin(sheet, 0)->setValue(20); // the user's edit
    EXPECT_TRUE(sheet.applyButton()->isEnabled());
    QTest::mouseClick(sheet.applyButton(), Qt::LeftButton);
    EXPECT_EQ(first->applies, 1);
    EXPECT_EQ(second->applies, 0);
    EXPECT_EQ(first->Number("Threads"), 20);
    EXPECT_FALSE(sheet.applyButton()->isEnabled());

    sheet.tabs()->setCurrentIndex(1);
    EXPECT_EQ(second->firstShows, 1);
    sheet.tabs()->setCurrentIndex(0);
    EXPECT_EQ(first->firstShows, 1) << "the checks of the first display run once";
}

TEST_F(Sheet, RefusedValueKeepsTheTabAndTheFocus) {
    CQuibrelDlg sheet(pages, prompter);
    sheet.show();
    QApplication::setActiveWindow(&sheet);
    Spin(sheet, 0)->setValue(500);
    prompter.ExpectText("Geben Sie eine ganze Zahl zwischen 2 und 100 ein.");
    sheet.tabs()->setCurrentIndex(1);
    EXPECT_EQ(sheet.tabs()->currentIndex(), 0);
    EXPECT_EQ(second->firstShows, 0);
    EXPECT_EQ(first->Number("Threads"), 10) << "a refused value is not taken";
    prompter.ExpectText("Geben Sie eine ganze Zahl zwischen 2 und 100 ein.");
    QTest::mouseClick(sheet.okButton(), Qt::LeftButton);
    EXPECT_TRUE(sheet.isVisible()) << "OK does not close the sheet over a refused value";
    EXPECT_EQ(first->applies, 0);
}

TEST_F(Sheet, LockedCancelRelabelsOkAndTheCloseBoxEndsWithOk) {
    first->lockOnApply = true;
    CQuibrelDlg sheet(pages, prompter);
    sheet.show();
    sheet.ShowPage(0);
    ASSERT_TRUE(sheet.Apply());
    EXPECT_TRUE(sheet.IsCancelLocked());
    EXPECT_FALSE(sheet.cancelButton()->isEnabled());
    EXPECT_EQ(sheet.okButton()->text(), QString::fromUtf8("Schließen"));
    sheet.reject(); // Escape: there is no way back any more
    EXPECT_TRUE(sheet.isVisible());
    sheet.close(); // the close box saves, like the relabelled button
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_EQ(first->applies, 2);
}

TEST_F(Sheet, CancelEndsWithCancel) {
    CQuibrelDlg sheet(pages, prompter);
    sheet.show();
    QTest::mouseClick(sheet.cancelButton(), Qt::LeftButton);
    EXPECT_EQ(sheet.result(), QDialog::Rejected);
    EXPECT_EQ(first->applies, 0);
}

TEST_F(Sheet, LeavingWithEditsNotAppliedAsksOnceAndNoKeepsTheSheet) {
    CQuibrelDlg sheet(pages, prompter);
    sheet.show();
    QApplication::setActiveWindow(&sheet);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));
    Spin(sheet, 0)->setValue(20);
    const char* question = "Sollen sie verworfen werden?";
    prompter.ExpectText(question, Answer::No);
    QTest::keyClick(&sheet, Qt::Key_Escape);
    EXPECT_TRUE(sheet.isVisible());
    prompter.ExpectText(question, Answer::No);
    sheet.close(); // the close box
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(Spin(sheet, 0)->value(), 20) << "the edit is still there";
    prompter.ExpectText(question, Answer::Yes);
    QTest::mouseClick(sheet.cancelButton(), Qt::LeftButton);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(sheet.result(), QDialog::Rejected);
    EXPECT_EQ(first->applies, 0);
    prompter.VerifyAllMet();
}

// Whatever the key, a Return in the real question keeps the sheet.
TEST_F(Sheet, TheDiscardQuestionKeepsTheSheetOnReturn) {
    CQtPrompter real;
    CQuibrelDlg sheet(pages, real);
    real.SetOwner(&sheet);
    sheet.show();
    Spin(sheet, 0)->setValue(20);
    QString asked;
    QTimer::singleShot(0, [&asked] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            asked = box->text();
            QTest::keyClick(box, Qt::Key_Return);
        }
    });
    sheet.reject();
    EXPECT_TRUE(asked.contains(QString::fromUtf8("Ihre Änderungen"))) << asked.toStdString();
    EXPECT_TRUE(sheet.isVisible());
    real.SetOwner(nullptr);
}

TEST(FoldersView, BrowseFillsTheFieldAndTheFieldsAreBoundByTheTable) {
    CConfigSet set;
    set.mdad.SetString("SpoolDir", "/srv/mail/spool");
    CPageFolders page(set);
    CScriptedPrompter prompter;
    CFormView view(page, prompter);
    auto* spool = view.findChild<QLineEdit*>(QStringLiteral("SpoolDir"));
    ASSERT_NE(spool, nullptr);
    EXPECT_EQ(spool->text(), QStringLiteral("/srv/mail/spool"));
    EXPECT_GT(spool->maxLength(), 255) << "the exchange refuses a longer folder, naming 255";
    prompter.ExpectFolder(std::string("/srv/other/spool"));
    QTest::mouseClick(view.CommandButton("browseSpoolDir"), Qt::LeftButton);
    EXPECT_EQ(spool->text(), QStringLiteral("/srv/other/spool"));
    EXPECT_TRUE(page.IsModified());
}

TEST_F(Sheet, F1AsksForTheHelpOfThePageInFrontOrOfTheSheet) {
    CConfigSet set;
    pages.push_back(std::make_unique<CPageFolders>(set));
    CQuibrelDlg sheet(pages, prompter);
    sheet.show();
    QApplication::setActiveWindow(&sheet);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));
    QTest::keyClick(&sheet, Qt::Key_F1);
    sheet.tabs()->setCurrentIndex(2);
    QTest::keyClick(&sheet, Qt::Key_F1);
    EXPECT_THAT(prompter.events(),
                testing::Contains(std::string("help 1 ") + std::to_string(0x20000 + 128)));
    EXPECT_THAT(prompter.events(),
                testing::Contains(std::string("help 1 ") + std::to_string(0x20000 + 131)));
}
