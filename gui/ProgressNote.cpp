#include "gui/ProgressNote.h"

#include "app/Strings.h"
#include "gui/TextCodec.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>

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

void CProgressNote::ShowNow() {
    show();
    raise();
    // Twice: the window manager maps the window, then the label paints into it.
    QApplication::processEvents();
    repaint();
    QApplication::processEvents();
}
