// The sheet's two windows beside the pages, over files a test writes: the preview of a save and
// the backup copies.
#include "gui/BackupsWindow.h"
#include "gui/ChangesWindow.h"
#include "gui/FormView.h"
#include "gui/QuibrelDlg.h"
#include "gui/TextCodec.h"
#include "pages/CheckDlg.h"
#include "pages/PageFolders.h"
#include "pages/PageListener.h"
#include "tests/ScriptedPrompter.h"
#include "tests/TestUtil.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>

using testutil::ReadBytes;
using testutil::WriteBytes;

namespace {

class Windows : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(backups);
        ::setenv("MAILCONFIGDIR", config.path().c_str(), 1);
    }
    void TearDown() override { ::unsetenv("MAILCONFIGDIR"); }

    testutil::TempDir config;
    std::string backups = config / "backup.cfg";
    CScriptedPrompter prompter;
};

} // namespace

TEST_F(Windows, ThePreviewListsTheChangedFileFirstWithItsDiffColoured) {
    WriteBytes(config / "smtpd.cfg", "MaxThreads:\t8\r\n");
    WriteBytes(config / "mdad.cfg", "Threads:\t4\r\n");
    CConfigSet set;
    ASSERT_TRUE(set.smtpd.LoadFromEnv("smtpd.cfg"));
    ASSERT_TRUE(set.mdad.LoadFromEnv("mdad.cfg"));
    set.mdad.SetInt("Threads", 6);

    CChangesWindow window(CollectChanges(set), prompter);
    ASSERT_GE(window.fileList()->count(), 2);
    EXPECT_TRUE(window.fileList()->item(0)->text().startsWith(QStringLiteral("mdad.cfg")));
    EXPECT_TRUE(window.fileList()->item(1)->text().contains(FromUtf8("unverändert")))
        << window.fileList()->item(1)->text().toStdString();
    EXPECT_FALSE(window.note()->isVisibleTo(&window));
    EXPECT_EQ(window.writtenView()->text(), QStringLiteral("Nichts."));

    const QTextDocument* diff = window.diffView()->document();
    bool added = false;
    for (QTextBlock block = diff->begin(); block.isValid(); block = block.next()) {
        if (!block.text().startsWith(QStringLiteral("+Threads")))
            continue;
        added = true;
        EXPECT_EQ(block.blockFormat().background().color().green(), 0xf3) << "on green";
    }
    EXPECT_TRUE(added) << window.diffView()->toPlainText().toStdString();
    EXPECT_FALSE(window.diffView()->toPlainText().contains(QLatin1Char('\r')));
    EXPECT_TRUE(window.diffView()->isReadOnly());
}

TEST_F(Windows, TheBackupsListNewestFirstAndDeleteSparesTheNewest) {
    WriteBytes(config / "smtpd.cfg", "A: heute\r\n");
    WriteBytes(backups + "/smtpd.cfg-261201-100000", "A: alt\r\n");
    WriteBytes(backups + "/smtpd.cfg-261205-100000", "A: heute\r\n");
    WriteBytes(backups + "/notizen.txt", "nicht anfassen");

    CBackupsWindow window(config.path(), true, prompter);
    QTreeWidget* moments = window.momentList();
    ASSERT_EQ(moments->topLevelItemCount(), 2);
    EXPECT_EQ(moments->topLevelItem(0)->text(0), QStringLiteral("05.12.2026 10:00:00"));
    EXPECT_EQ(moments->topLevelItem(1)->text(0), QStringLiteral("01.12.2026 10:00:00"));
    EXPECT_EQ(moments->topLevelItem(0)->text(2), QStringLiteral("10 Bytes"));
    EXPECT_TRUE(window.foreignNote()->text().startsWith(QStringLiteral("1 fremde Datei")));
    EXPECT_EQ(window.diffView()->toPlainText(),
              QStringLiteral("Keine Unterschiede zur heutigen Datei."));
    EXPECT_FALSE(window.deleteButton()->isEnabled()) << "the newest moment stays";
    EXPECT_FALSE(window.deleteButton()->toolTip().isEmpty());
    EXPECT_TRUE(window.restoreButton()->isEnabled());

    moments->setCurrentItem(moments->topLevelItem(1));
    ASSERT_EQ(window.copyList()->count(), 1);
    EXPECT_EQ(window.copyList()->item(0)->checkState(), Qt::Checked);
    EXPECT_TRUE(window.diffView()->toPlainText().contains(QStringLiteral("+A: alt")));
    ASSERT_TRUE(window.deleteButton()->isEnabled());
    prompter.ExpectText("gel\xF6scht werden", Answer::Yes);
    QTest::mouseClick(window.deleteButton(), Qt::LeftButton);
    EXPECT_EQ(moments->topLevelItemCount(), 1);
    EXPECT_FALSE(std::filesystem::exists(backups + "/smtpd.cfg-261201-100000"));
    EXPECT_TRUE(std::filesystem::exists(backups + "/notizen.txt"));
    prompter.VerifyAllMet();
}

TEST_F(Windows, ARestoreAsksRestartsTheServicesAndClosesForTheReload) {
    WriteBytes(config / "smtpd.cfg", "A: heute\r\n");
    WriteBytes(backups + "/smtpd.cfg-261201-100000", "A: alt\r\n");
    CBackupsWindow window(config.path(), true, prompter);
    int restarts = 0;
    window.SetServiceRestart([&restarts](CPrompter&) { ++restarts; });
    window.show();
    prompter.ExpectText("Sicherung vom 01.12.2026 10:00:00", Answer::Yes);
    prompter.ExpectText("Die Sicherung wurde wiederhergestellt.");
    QTest::mouseClick(window.restoreButton(), Qt::LeftButton);
    prompter.VerifyAllMet();
    EXPECT_EQ(ReadBytes(config / "smtpd.cfg"), "A: alt\r\n");
    EXPECT_EQ(restarts, 1);
    EXPECT_TRUE(window.Restored());
    EXPECT_FALSE(window.isVisible());
}

// A restore reloads the set: the sheet offers it only while nothing would be lost by that.
TEST_F(Windows, RestoreIsOfferedOnlyWhileTheSheetHoldsNothingUnsaved) {
    WriteBytes(backups + "/smtpd.cfg-261201-100000", "A: alt\r\n");
    CConfigSet set;
    std::vector<std::unique_ptr<CPageModel>> pages;
    pages.push_back(std::make_unique<CPageFolders>(set));
    CQuibrelDlg sheet(pages, prompter);
    sheet.SetConfigSet(&set);
    EXPECT_TRUE(sheet.MayReload());
    QTest::keyClicks(sheet.view(0)->findChild<QLineEdit*>(QStringLiteral("SpoolDir")), "x");
    EXPECT_FALSE(sheet.MayReload());

    CBackupsWindow window(config.path(), sheet.MayReload(), prompter);
    EXPECT_FALSE(window.restoreButton()->isEnabled());
    EXPECT_TRUE(window.restoreNote()->isVisibleTo(&window));
    EXPECT_TRUE(window.restoreNote()->text().contains(FromUtf8("„Abbrechen“")));
    EXPECT_TRUE(window.deleteButton()->isVisibleTo(&window));
}

// The check follows the set in memory: a critical finding made after the start makes OK ask
// once ("Nein" keeps the sheet and writes nothing), the check's window leads to the page that
// holds it, and once it is undone OK saves without a word.
TEST_F(Windows, OkAsksBeforeSavingANewCriticalFindingAndTheCheckLeadsToIt) {
    CConfigSet set;
    set.domains.AddTail("example.test");
    std::vector<std::unique_ptr<CPageModel>> pages;
    pages.push_back(std::make_unique<CPageFolders>(set));
    pages.push_back(std::make_unique<CPageConfigSMTP>(set, AdvancedDialogFactory{},
                                                      [] { return platform::LocalAddresses{}; }));
    auto& smtp = static_cast<CPageConfigSMTP&>(*pages.back());
    CQuibrelDlg sheet(pages, prompter);
    CheckEnvironment environment;
    environment.hostName = "example.test";
    environment.configDir = config.path();
    sheet.SetConfigSet(&set, environment);
    ASSERT_TRUE(sheet.RefreshCheck(false));
    EXPECT_TRUE(sheet.checkSummary()->text().startsWith(FromUtf8("Prüfung: ")));

    CStorableList& relay = smtp.ListOf("AccessRelayFile");
    relay.AddTail("0.0.0.0/0.0.0.0");
    prompter.ExpectText("offenes Relay", Answer::No);
    QTest::mouseClick(sheet.okButton(), Qt::LeftButton);
    prompter.VerifyAllMet();
    EXPECT_NE(sheet.result(), QDialog::Accepted);
    EXPECT_FALSE(std::filesystem::exists(config / "access.relay"));
    EXPECT_TRUE(sheet.checkSummary()->text().contains(QStringLiteral("kritisch")));

    prompter.ExpectDialog([](CDialogModel& dialog) {
        auto& check = dynamic_cast<CCheckDlg&>(dialog);
        CScriptedPrompter inner;
        for (std::size_t row = 0; row < check.rows().RowCount(); ++row)
            if (std::string_view(check.rows().Finding(row).code) == "open-relay")
                dialog.RowsOf(CCheckDlg::kFindings)->Select(row);
        dialog.SelectionChanged(CCheckDlg::kFindings, inner);
        dialog.RunCommand(CCheckDlg::kGoTo, inner);
        return true;
    });
    EXPECT_TRUE(sheet.ShowCheck());
    EXPECT_EQ(sheet.tabs()->currentIndex(), 1);

    relay.RemoveAt(relay.Find("0.0.0.0/0.0.0.0"));
    QTest::mouseClick(sheet.okButton(), Qt::LeftButton);
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
}
