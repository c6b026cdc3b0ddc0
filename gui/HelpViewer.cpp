#include "gui/HelpViewer.h"

#include "platform/Process.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace {

bool IsReadablePage(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isReadable();
}

} // namespace

CHelpWindow::CHelpWindow(QWidget* owner) : QWidget(owner, Qt::Window), m_owner(owner) {
    setWindowTitle(QString::fromUtf8(kCaption));
    if (owner)
        setWindowIcon(owner->windowIcon());

    m_contents = new QPushButton(QString::fromUtf8("&Inhalt"), this);
    m_back = new QPushButton(QString::fromUtf8("&Zurück"), this);
    m_forward = new QPushButton(QString::fromUtf8("&Vorwärts"), this);
    auto* close = new QPushButton(QString::fromUtf8("&Schließen"), this);
    m_back->setEnabled(false);
    m_forward->setEnabled(false);

    m_browser = new QTextBrowser(this);
    // Links are followed here, so that a page that is missing leaves the reader where they were
    // and addresses outside the help open in the desktop's browser.
    m_browser->setOpenLinks(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_contents);
    buttons->addWidget(m_back);
    buttons->addWidget(m_forward);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_browser);
    resize(720, 600);

    connect(m_contents, &QPushButton::clicked, this, [this] {
        Open(m_folder, m_folder + QLatin1Char('/') + QString::fromUtf8(help::kContentsPage));
    });
    connect(m_back, &QPushButton::clicked, m_browser, &QTextBrowser::backward);
    connect(m_forward, &QPushButton::clicked, m_browser, &QTextBrowser::forward);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    // Escape closes the help as it closes every other window of the program.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    connect(m_browser, &QTextBrowser::backwardAvailable, m_back, &QWidget::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, m_forward, &QWidget::setEnabled);
    connect(m_browser, &QTextBrowser::anchorClicked, this, &CHelpWindow::FollowLink);
}

bool CHelpWindow::Open(const QString& folder, const QString& path) {
    if (!IsReadablePage(path))
        return false;
    m_folder = folder;
    m_browser->setSearchPaths({folder});
    const QUrl page = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    if (m_browser->source() == page)
        m_browser->reload(); // the page may have been reinstalled meanwhile
    else
        m_browser->setSource(page);
    return true;
}

void CHelpWindow::FollowLink(const QUrl& link) {
    const QUrl target = m_browser->source().resolved(link);
    if (!target.isLocalFile()) {
        QDesktopServices::openUrl(target);
        return;
    }
    QUrl file = target;
    file.setFragment(QString());
    if (!IsReadablePage(file.toLocalFile()))
        return;
    m_browser->setSource(target);
}

QRect CHelpWindow::FitOnScreen(QRect frame, const QRect& available) {
    frame.setWidth(std::min(frame.width(), available.width()));
    frame.setHeight(std::min(frame.height(), available.height()));
    frame.moveLeft(
        std::clamp(frame.left(), available.left(), available.right() - frame.width() + 1));
    frame.moveTop(
        std::clamp(frame.top(), available.top(), available.bottom() - frame.height() + 1));
    return frame;
}

void CHelpWindow::PlaceOnScreen() {
    QWidget* near = m_host ? m_host.data() : m_owner.data();
    QScreen* screen = near ? near->screen() : this->screen();
    if (!screen)
        return;
    // The window frame is known once the window has been shown; before, an allowance for a
    // title bar and borders.
    const QRect outer = frameGeometry();
    const QMargins frame =
        outer != geometry()
            ? QMargins(geometry().left() - outer.left(), geometry().top() - outer.top(),
                       outer.right() - geometry().right(), outer.bottom() - geometry().bottom())
            : QMargins(4, 30, 4, 4);
    QRect wanted = geometry().marginsAdded(frame);
    if (!m_placed && near)
        wanted.moveCenter(near->window()->frameGeometry().center());
    m_placed = true;
    setGeometry(FitOnScreen(wanted, screen->availableGeometry()).marginsRemoved(frame));
}

void CHelpWindow::AttachTo(QWidget* host) {
    if (m_host)
        m_host->removeEventFilter(this);
    m_host = host ? host->window() : nullptr;
    if (m_host == this)
        m_host = nullptr;
    if (m_host)
        m_host->installEventFilter(this);
    (void)winId(); // the native window, so that it can be told whom it belongs to
    if (QWindow* own = windowHandle())
        own->setTransientParent(m_host ? m_host->windowHandle() : nullptr);
}

bool CHelpWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_host && event->type() == QEvent::Hide && m_host != m_owner) {
        // The dialog that asked for help is closing: without a new home the window would be
        // blocked by the sheet, modal beneath it, until the next request.
        QWidget* next = QApplication::activeModalWidget();
        AttachTo(next && next != m_host ? next : m_owner.data());
    }
    return QWidget::eventFilter(watched, event);
}

CQtHelpViewer::CQtHelpViewer(QWidget* owner) : m_owner(owner) {}

CQtHelpViewer::~CQtHelpViewer() {
    delete m_window.data();
}

bool CQtHelpViewer::Show(const std::string& helpFolder, unsigned command, unsigned long data) {
    const std::string page = help::PagePath(helpFolder, command, data);
    if (page.empty())
        return false;
    const QString path = QFile::decodeName(QByteArray::fromStdString(page));
    if (!IsReadablePage(path))
        return false;
    if (!m_window)
        m_window = new CHelpWindow(m_owner);
    QWidget* modal = QApplication::activeModalWidget();
    m_window->AttachTo(modal && modal != m_window ? modal : m_owner.data());
    if (!m_window->Open(QFile::decodeName(QByteArray::fromStdString(helpFolder)), path))
        return false;
    if (m_window->isMinimized())
        m_window->showNormal();
    // Opened again, or for the first time: whole on the screen, however the sheet stands.
    if (!m_window->isVisible())
        m_window->PlaceOnScreen();
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    return true;
}

void HelpWaitCursor(bool busy) {
    if (!busy) {
        QApplication::restoreOverrideCursor();
        return;
    }
    if (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    if (QWidget* grabber = QWidget::keyboardGrabber())
        grabber->releaseKeyboard();
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

std::string ProgramHelpFolder() {
#ifdef KORVANE_HELP_SOURCE_DIR
    const std::string fallback = KORVANE_HELP_SOURCE_DIR;
#else
    const std::string fallback;
#endif
    return help::FindHelpFolder(platform::OwnExecutablePath(), fallback);
}
