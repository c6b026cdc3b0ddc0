#include "gui/ProgressNote.h"

#include "app/Strings.h"
#include "gui/TextCodec.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QThread>
#include <QWindow>

namespace {
// Long enough for any window manager to map and decorate a window; short enough that a display
// that never exposes it (a minimised session) delays the work only a little.
constexpr qint64 kMostWaitMs = 2000;
} // namespace

CProgressNote::CProgressNote(const QString& text, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setWindowTitle(FromAnsi(strings::Text(57344)));
    setWindowModality(Qt::NonModal);
    m_text = new QLabel(text, this);
    m_text->setWordWrap(true);
    m_text->setMinimumWidth(320);
    // Room for two lines of text.
    m_text->setMinimumHeight(2 * m_text->fontMetrics().lineSpacing());
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(18, 16, 18, 16);
    layout->addWidget(m_text);
}

void CProgressNote::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    m_painted = true;
}

bool CProgressNote::IsOnScreen() const {
    const QWindow* window = windowHandle();
    return isVisible() && window && window->isExposed() && m_painted;
}

QString CProgressNote::Text() const {
    return m_text->text();
}

void CProgressNote::ShowNow() {
    m_painted = false;
    show();
    raise();
    // A window manager maps the window when it pleases, and only an exposed window can be
    // painted: a repaint before that paints nothing, and the window would show a black area
    // for as long as the work blocks. So the events are handled until the expose has come
    // and the window has painted.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        QApplication::processEvents(QEventLoop::AllEvents);
        if (IsOnScreen() || waited.elapsed() >= kMostWaitMs)
            break;
        QThread::msleep(5);
    }
    // The painted pixels are still in our connection's queue: hand them to the display server
    // and wait until it has them.
    QGuiApplication::sync();
}
