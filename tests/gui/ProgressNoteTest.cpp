// The progress window is on the screen, with its text, before the blocking work begins.
#include "gui/ProgressNote.h"
#include "gui/QtPrompter.h"

#include <QApplication>
#include <QImage>

#include <gtest/gtest.h>

namespace {

CProgressNote* OpenNote() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* note = qobject_cast<CProgressNote*>(widget); note && note->isVisible())
            return note;
    return nullptr;
}

} // namespace

TEST(ProgressNote, IsExposedAndPaintedWhenOpenReturns) {
    CQtPrompter prompter;
    prompter.OpenProgress("Starte den SMTP-Server neu...");
    CProgressNote* note = OpenNote();
    ASSERT_NE(note, nullptr);
    // Nothing may be left for a later event loop: the work that follows blocks it.
    EXPECT_TRUE(note->IsOnScreen());
    EXPECT_EQ(note->Text(), QStringLiteral("Starte den SMTP-Server neu..."));
    EXPECT_EQ(note->windowTitle(), QStringLiteral("Korvane MailServer 4.0 Configurator"));
    // What it shows is more than an empty area.
    const QImage shown = note->grab().toImage();
    const QRgb background = shown.pixel(0, 0);
    bool drawn = false;
    for (int y = 0; y < shown.height() && !drawn; ++y)
        for (int x = 0; x < shown.width() && !drawn; ++x)
            drawn = shown.pixel(x, y) != background;
    EXPECT_TRUE(drawn);

    // A second note replaces the first; closing leaves none.
    prompter.OpenProgress("Starte den POP3-Server neu...");
    ASSERT_NE(OpenNote(), nullptr);
    EXPECT_EQ(OpenNote()->Text(), QStringLiteral("Starte den POP3-Server neu..."));
    prompter.CloseProgress();
    EXPECT_EQ(OpenNote(), nullptr);
}
