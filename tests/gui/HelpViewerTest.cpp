#include "gui/HelpViewer.h"

#include "tests/ScriptedPrompter.h"
#include "tests/TestUtil.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTextBrowser>
#include <QWindow>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

QString HelpFolder() {
    return QFile::decodeName(QByteArray::fromStdString(ProgramHelpFolder()));
}

QString ReadPage(const QString& name) {
    QFile file(HelpFolder() + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QString TitleOf(const QString& html) {
    const auto match = QRegularExpression(QStringLiteral("<title>(.*)</title>")).match(html);
    return match.hasMatch() ? match.captured(1) : QString();
}

QString ShownFile(const CQtHelpViewer& viewer) {
    return viewer.window()
               ? QFileInfo(viewer.window()->browser()->source().toLocalFile()).fileName()
               : QString();
}

// A click as the window system delivers it, so that a window blocked by a modal one does not get
// it.
void ClickThroughWindow(QWidget* button) {
    QWidget* top = button->window();
    QTest::mouseClick(top->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      button->mapTo(top, button->rect().center()));
}

class HelpViewerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QFileInfo(HelpFolder()).isDir()) << "no help folder"; }
    const std::string m_folder = ProgramHelpFolder();
};

TEST_F(HelpViewerTest, ContentsShowsTheContentsPage) {
    CQtHelpViewer viewer;
    ASSERT_TRUE(viewer.Show(m_folder, help::kViewContents, 0));
    const QString title = TitleOf(ReadPage(QStringLiteral("index.html")));
    ASSERT_FALSE(title.isEmpty());
    EXPECT_EQ(viewer.window()->browser()->documentTitle(), title);
    EXPECT_TRUE(viewer.window()->isVisible());
    EXPECT_EQ(viewer.window()->windowTitle(),
              QString::fromUtf8("Korvane MailServer 4.0 Configurator – Hilfe"));
}

TEST_F(HelpViewerTest, ContextOfTheFoldersPageShowsItsHelp) {
    CQtHelpViewer viewer;
    ASSERT_TRUE(
        viewer.Show(m_folder, help::kViewContext, help::ContextOf(help::resource::kPageFolders)));
    EXPECT_EQ(ShownFile(viewer), QStringLiteral("folders.html"));
    EXPECT_TRUE(viewer.window()->browser()->toPlainText().contains(
        QString::fromUtf8("Spoolverzeichnis für Mailkonten")));
}

TEST_F(HelpViewerTest, NothingToShowGivesFalse) {
    testutil::TempDir empty;
    CQtHelpViewer viewer;
    EXPECT_FALSE(viewer.Show(empty.path(), help::kViewContents, 0));
    EXPECT_EQ(viewer.window(), nullptr) << "no window for a missing page";
    // A context whose page is not there, one the table does not know, a command the viewer
    // does not know.
    EXPECT_FALSE(viewer.Show(empty.path(), help::kViewContext,
                             help::ContextOf(help::resource::kPageFolders)));
    EXPECT_FALSE(viewer.Show(m_folder, help::kViewContext, 0x20000 + 4711));
    EXPECT_FALSE(viewer.Show(m_folder, 2, 0));
}

TEST_F(HelpViewerTest, LinksBackForwardAndContents) {
    CQtHelpViewer viewer;
    ASSERT_TRUE(viewer.Show(m_folder, help::kViewContents, 0));
    CHelpWindow* window = viewer.window();
    EXPECT_FALSE(window->backButton()->isEnabled());

    emit window->browser()->anchorClicked(QUrl(QStringLiteral("folders.html")));
    EXPECT_EQ(ShownFile(viewer), QStringLiteral("folders.html"));
    // A link to a page that is not there leaves the reader where they are.
    emit window->browser()->anchorClicked(QUrl(QStringLiteral("no-such-page.html")));
    EXPECT_EQ(ShownFile(viewer), QStringLiteral("folders.html"));

    ASSERT_TRUE(window->backButton()->isEnabled());
    window->backButton()->click();
    EXPECT_EQ(ShownFile(viewer), QStringLiteral("index.html"));
    ASSERT_TRUE(window->forwardButton()->isEnabled());
    window->forwardButton()->click();
    EXPECT_EQ(ShownFile(viewer), QStringLiteral("folders.html"));
    window->contentsButton()->click();
    EXPECT_EQ(ShownFile(viewer), QStringLiteral("index.html"));
}

TEST_F(HelpViewerTest, WindowIsReusedAndKeepsItsHistory) {
    CQtHelpViewer viewer;
    ASSERT_TRUE(viewer.Show(m_folder, help::kViewContents, 0));
    CHelpWindow* first = viewer.window();
    // Escape closes it, as it closes every window of the program.
    QApplication::setActiveWindow(first);
    QTest::keyClick(first->browser(), Qt::Key_Escape);
    EXPECT_FALSE(first->isVisible());
    ASSERT_TRUE(
        viewer.Show(m_folder, help::kViewContext, help::ContextOf(help::resource::kPageFolders)));
    EXPECT_EQ(viewer.window(), first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(first->backButton()->isEnabled());
}

TEST_F(HelpViewerTest, UsableBesideTheModalSheetAndTheDialogThatAskedForHelp) {
    QDialog sheet;
    sheet.setWindowModality(Qt::ApplicationModal);
    sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    auto* dialog = new QDialog(&sheet);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));

    CQtHelpViewer viewer(&sheet);
    ASSERT_TRUE(
        viewer.Show(m_folder, help::kViewContext, help::ContextOf(help::resource::kPageFolders)));
    CHelpWindow* window = viewer.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    ClickThroughWindow(window->contentsButton());
    EXPECT_EQ(ShownFile(viewer), QStringLiteral("index.html")) << "blocked by the dialog";

    // The dialog closes and goes; the sheet, still modal, must not block the help now.
    dialog->hide();
    delete dialog;
    ClickThroughWindow(window->backButton());
    EXPECT_EQ(ShownFile(viewer), QStringLiteral("folders.html")) << "blocked by the sheet";
}

TEST_F(HelpViewerTest, OpensWholeOnTheScreenBesideASheetAtItsEdge) {
    // Moved into the screen, and made smaller where it is larger than the screen.
    EXPECT_EQ(CHelpWindow::FitOnScreen(QRect(-50, 300, 900, 500), QRect(0, 0, 800, 600)),
              QRect(0, 100, 800, 500));

    QDialog sheet;
    sheet.resize(400, 300);
    const QRect available = sheet.screen()->availableGeometry();
    sheet.move(available.bottomRight() - QPoint(150, 100));
    sheet.show();
    CQtHelpViewer viewer(&sheet);
    ASSERT_TRUE(viewer.Show(m_folder, help::kViewContents, 0));
    CHelpWindow* window = viewer.window();
    EXPECT_TRUE(available.contains(window->frameGeometry()));
    // Left half off the screen and closed: it opens whole again.
    window->move(available.bottomRight() - QPoint(100, 100));
    window->close();
    ASSERT_TRUE(viewer.Show(m_folder, help::kViewContents, 0));
    EXPECT_TRUE(available.contains(window->frameGeometry()));
}

TEST_F(HelpViewerTest, RouterWithTheQtViewerAndWaitCursor) {
    CScriptedPrompter prompter;
    CHelpRouter router(
        prompter, m_folder, [] { return std::make_unique<CQtHelpViewer>(); }, HelpWaitCursor);
    router.WinHelp(help::ContextOf(help::resource::kPageFolders), help::kRequestContext);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    prompter.ExpectText("Die Hilfe konnte nicht gestartet werden.");
    router.WinHelp(0x20000 + 4711, help::kRequestContext);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// The pages themselves: every link leads to a page or a style sheet that is installed with
// them, and every page names its title.
TEST_F(HelpViewerTest, EveryLinkOfTheHelpPagesLeadsSomewhere) {
    const QDir folder(HelpFolder());
    const QStringList pages = folder.entryList({QStringLiteral("*.html")}, QDir::Files);
    ASSERT_TRUE(pages.contains(QStringLiteral("index.html")));
    const QRegularExpression reference(QStringLiteral("(?:href|src)=\"([^\"]*)\""));
    const QRegularExpression anchor(QStringLiteral("<a name=\"([^\"]*)\""));
    for (const QString& page : pages) {
        const QString html = ReadPage(page);
        EXPECT_FALSE(TitleOf(html).isEmpty()) << page.toStdString();
        for (auto it = reference.globalMatch(html); it.hasNext();) {
            const QString target = it.next().captured(1);
            if (target.startsWith(QLatin1String("http")))
                continue;
            const QString file = target.section(QLatin1Char('#'), 0, 0);
            const QString fragment = target.section(QLatin1Char('#'), 1);
            const QString linked = file.isEmpty() ? page : file;
            EXPECT_TRUE(folder.exists(linked))
                << page.toStdString() << " -> " << target.toStdString();
            if (!fragment.isEmpty()) {
                bool found = false;
                for (auto a = anchor.globalMatch(ReadPage(linked)); a.hasNext();)
                    found = a.next().captured(1) == fragment || found;
                EXPECT_TRUE(found) << page.toStdString() << " -> " << target.toStdString();
            }
        }
    }
}

TEST_F(HelpViewerTest, ContextPagesThatAreWrittenAreReachedFromTheContents) {
    const QString contents = ReadPage(QStringLiteral("index.html"));
    for (const help::ContextPage& page : help::ContextPages()) {
        const QString file = QString::fromUtf8(page.file);
        if (!QFileInfo(HelpFolder() + QLatin1Char('/') + file).exists())
            continue;
        EXPECT_TRUE(contents.contains(QStringLiteral("href=\"") + file))
            << page.file << " is not linked from the contents";
    }
}

} // namespace
