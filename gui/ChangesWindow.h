// The window "Änderungen vor dem Speichern": file by file what OK would write over what is on
// disk now, each file's diff coloured, and what the program has already written at once and
// Abbrechen no longer takes back. It only shows; the set is staged by the sheet before.
#pragma once

#include "app/ChangePreview.h"
#include "app/ConfigSet.h"
#include "app/Prompter.h"

#include <QDialog>

#include <string>
#include <string_view>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;
class QTextEdit;

// What the window shows, gathered without Qt: the files in the order the user reads them (those
// a save would change first, then the others in the order of the save), the journal's entries
// as sentences (code page), and whether anything would change at all.
struct ChangesOverview {
    std::vector<preview::FileChange> files;
    std::vector<std::string> written;
    bool anyChange = false;
};
ChangesOverview CollectChanges(CConfigSet& set);

// Whether a save would write the file with other bytes than those on disk.
bool WouldChange(const preview::FileChange& change);

// Fills view with a unified diff (code page), one line per block: "+" lines on green, "-" lines
// on red, "@@" lines on blue-grey, context plain. Shared by both windows of the sheet.
void ShowDiff(QTextEdit& view, std::string_view diff);
// Fills view with a sentence in place of a diff, in the view's plain format.
void ShowNote(QTextEdit& view, const QString& text);
// A read-only monospace text view for ShowDiff.
QTextEdit* CreateDiffView(QWidget* parent);

class CChangesWindow : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kCaption = "Änderungen vor dem Speichern";
    static constexpr const char* kNothingChanges = "OK würde keine Datei ändern.";

    CChangesWindow(ChangesOverview overview, CPrompter& prompter, QWidget* parent = nullptr);

    QListWidget* fileList() const { return m_files; }
    QTextEdit* diffView() const { return m_diff; }
    QLabel* writtenView() const { return m_written; }
    QLabel* note() const { return m_note; }
    QPushButton* closeButton() const { return m_close; }
    QPushButton* helpButton() const { return m_help; }

private:
    void ShowFile(int row);

    ChangesOverview m_overview;
    QListWidget* m_files;
    QTextEdit* m_diff;
    QLabel* m_written;
    QLabel* m_note;
    QPushButton* m_close;
    QPushButton* m_help;
};
