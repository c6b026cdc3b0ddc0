// The small window without buttons that names what the program is doing while it blocks
// (restarting a service, starting the scheduler).
#pragma once

#include <QWidget>

class QLabel;

class CProgressNote : public QWidget {
    Q_OBJECT
public:
    explicit CProgressNote(const QString& text, QWidget* parent = nullptr);
    // Shows the window and returns once it is on the screen with its text: the work that
    // follows blocks the event loop, so nothing would paint it later. Waits at most a
    // moment for a display that never shows it.
    void ShowNow();
    // Whether the window has been exposed and painted since it was shown.
    bool IsOnScreen() const;
    QString Text() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_text;
    bool m_painted = false;
};
