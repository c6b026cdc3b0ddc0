// The small window without buttons that names what the program is doing while it blocks
// (restarting a service, starting the scheduler).
#pragma once

#include <QWidget>

class QLabel;

class CProgressNote : public QWidget {
    Q_OBJECT
public:
    explicit CProgressNote(const QString& text, QWidget* parent = nullptr);
    // Shows the window and paints it at once: the work that follows blocks the event loop.
    void ShowNow();

private:
    QLabel* m_text;
};
