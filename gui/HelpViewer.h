// The help viewer of this toolkit: a window of its own that shows the HTML pages of the help
// folder, with contents, back and forward. It stays usable beside the modal sheet and beside
// whatever modal dialog asked for help.
#pragma once

#include "pages/Help.h"

#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

#include <string>

class QPushButton;
class QTextBrowser;
class QUrl;

// The help window. It is made once and kept, so its history survives closing it.
class CHelpWindow : public QWidget {
public:
    static constexpr const char* kCaption = "Korvane MailServer 4.0 Configurator – Hilfe";

    // owner: the window the help belongs to (the sheet); the help window is closed with it.
    explicit CHelpWindow(QWidget* owner = nullptr);

    // Shows the page at path (a file of folder); false, and nothing changes, when it cannot
    // be read.
    bool Open(const QString& folder, const QString& path);
    // Keeps the window usable while host, a modal window, is open: a modal window blocks every
    // window that is not its own. When host closes, the window goes back to the next modal
    // window or to its owner.
    void AttachTo(QWidget* host);
    // Puts the window whole on the screen of the window it helps: the first time centred over
    // that window, later where it was, each time moved and if need be made smaller to fit.
    void PlaceOnScreen();
    // A window frame moved, and shrunk where it is larger, into the available area.
    static QRect FitOnScreen(QRect frame, const QRect& available);

    QTextBrowser* browser() const { return m_browser; }
    QPushButton* contentsButton() const { return m_contents; }
    QPushButton* backButton() const { return m_back; }
    QPushButton* forwardButton() const { return m_forward; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FollowLink(const QUrl& link);

    QPointer<QWidget> m_owner;
    QPointer<QWidget> m_host;
    QString m_folder;
    QTextBrowser* m_browser = nullptr;
    QPushButton* m_contents = nullptr;
    QPushButton* m_back = nullptr;
    QPushButton* m_forward = nullptr;
    bool m_placed = false;
};

class CQtHelpViewer : public CHelpViewer {
public:
    // owner: the sheet, or null. Destroy the viewer before the application object.
    explicit CQtHelpViewer(QWidget* owner = nullptr);
    ~CQtHelpViewer() override;
    CQtHelpViewer(const CQtHelpViewer&) = delete;
    CQtHelpViewer& operator=(const CQtHelpViewer&) = delete;

    // Opens the window (or brings it to the front) on the contents, the start page or the page
    // of a context number; false when there is no such page.
    bool Show(const std::string& helpFolder, unsigned command, unsigned long data) override;

    // The window, once a page has been shown.
    CHelpWindow* window() const { return m_window; }

private:
    QPointer<QWidget> m_owner;
    QPointer<CHelpWindow> m_window;
};

// The wait-cursor hook of CHelpRouter: on, it also ends what holds the mouse or keyboard (an
// open menu, a pressed button) so the help window gets them; off, the cursor is restored.
void HelpWaitCursor(bool busy);

// The help folder of the running program: "help" beside the executable, or, for a program run
// from its build tree, the source tree's folder that KORVANE_HELP_SOURCE_DIR names.
std::string ProgramHelpFolder();
