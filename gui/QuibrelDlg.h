// The property sheet: one tab per page model, OK, Abbrechen and Übernehmen. Leaving a tab,
// Übernehmen and OK first take the page's fields; a refused value keeps the user where it is.
// Once a page has written something that cannot be taken back, Abbrechen is disabled and OK
// becomes "Schließen", which (like the window's close box then) still ends with OK. Before that,
// Abbrechen, Escape and the close box ask once whether edits not applied yet may be discarded.
#pragma once

#include "app/QuibrelApp.h"
#include "pages/ConfigCheck.h"
#include "pages/FieldModel.h"

#include <QDialog>

#include <memory>
#include <optional>
#include <vector>

class CModelView;
class CSheetCheck;
class QLabel;
class CQtPrompter;
class QDialogButtonBox;
class QPushButton;
class QTabWidget;

class CQuibrelDlg : public QDialog {
    Q_OBJECT
public:
    CQuibrelDlg(const std::vector<std::unique_ptr<CPageModel>>& pages, CPrompter& prompter,
                QWidget* parent = nullptr);
    ~CQuibrelDlg() override;

    QTabWidget* tabs() const { return m_tabs; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* applyButton() const { return m_apply; }
    QPushButton* changesButton() const { return m_changes; }
    QPushButton* backupsButton() const { return m_backups; }
    QPushButton* checkButton() const { return m_checkButton; }
    // The one line at the bottom that sums up the check's findings, and those findings.
    QLabel* checkSummary() const { return m_summary; }
    const std::vector<CFinding>& checkFindings() const;
    CModelView* view(int index) const { return m_pages.at(static_cast<std::size_t>(index)).view; }
    bool IsCancelLocked() const { return m_cancelLocked; }
    bool WasShown(int index) const { return m_pages.at(static_cast<std::size_t>(index)).shown; }

    // Übernehmen: takes the current page's fields and applies every page that has been shown.
    bool Apply();
    // The page is shown for the first time (its checks run); the sheet does this for the first
    // tab when it opens and for every other tab when it is first selected.
    void ShowPage(int index);
    // Abbrechen, Escape and the close box; with cancel locked they do nothing. With edits that
    // were not applied they ask first, and "Nein" keeps the sheet.
    void reject() override;
    // Whether a page holds edits that were not applied.
    bool HasUnsavedEdits() const;
    // Whether the sheet holds nothing a reload of the set from disk would lose: no edit, nothing
    // applied since it opened, nothing written that cannot be taken back.
    bool MayReload() const { return !HasUnsavedEdits() && !m_cancelLocked && !m_applied; }

    // The set the pages work on, for the preview of a save, the backups and the check; without
    // it the three buttons do nothing and OK asks nothing. check: the machine the check looks
    // at (this one unless a test gives its own).
    void SetConfigSet(CConfigSet* set, std::optional<CheckEnvironment> check = std::nullopt);
    // "Änderungen anzeigen...": StagePages, then the window of what OK would write. False when
    // a page refused a value.
    bool ShowChanges();
    // Takes the fields as Übernehmen does and stages every shown page into the set in memory;
    // nothing is written and nothing is applied. False when a page refused a value.
    bool StagePages();
    // "Sicherungen...": the backup copies; after a restore the sheet closes like Abbrechen and
    // ReloadRequested() tells the caller to load the set anew.
    void ShowBackups();
    bool ReloadRequested() const { return m_reloadRequested; }
    // "Prüfen...": StagePages, the check on the set in memory, and its window; a finding chosen
    // there leads to its page and field (GoTo). False when a page refused a value.
    bool ShowCheck();
    // Checks the set in memory again and shows the summary; with stage the shown pages' fields
    // are staged first (a refused value is said then, and nothing is checked).
    bool RefreshCheck(bool stage);
    // The page and control that show the finding's key, brought into view with the focus;
    // false when no page shows it.
    bool GoTo(const CFinding& finding);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void OnTabChanged(int index);
    void OnOk();
    bool MayDiscard();
    void LockCancel();
    void UpdateApply();

    struct Page {
        CPageModel* model;
        CModelView* view;
        bool shown;
    };
    CPrompter& m_prompter;
    std::vector<Page> m_pages;
    QTabWidget* m_tabs;
    QDialogButtonBox* m_buttons;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    QPushButton* m_apply;
    QPushButton* m_changes;
    QPushButton* m_backups;
    QPushButton* m_checkButton;
    QLabel* m_summary;
    CConfigSet* m_set = nullptr;
    std::unique_ptr<CSheetCheck> m_check;
    bool m_checkPending = false; // a look after a change is queued
    int m_current = 0;
    bool m_cancelLocked = false;
    bool m_applied = false;
    bool m_reloadRequested = false;
    bool m_firstShowDone = false;
};

// Has the toolkit do once, ahead of the first sheet, what that sheet would otherwise wait for:
// the style, the fonts, the icons and the widget classes of the page forms, laid out and painted
// off screen. Meant for the time the set loads on its second thread (CSetPreload): only the
// toolkit's caches are left of it, and nothing of the set is touched.
void PrimeToolkit();

// The sheet as the application cycle runs it.
class CQtSheet : public CSheet {
public:
    explicit CQtSheet(CQtPrompter* qtPrompter = nullptr) : m_qtPrompter(qtPrompter) {}
    bool Run(CConfigSet& set, CPrompter& prompter) override;
    // The last run ended because a backup was restored: the program loads the set anew and
    // shows the sheet again.
    bool ReloadRequested() const { return m_reloadRequested; }

private:
    CQtPrompter* m_qtPrompter;
    bool m_reloadRequested = false;
};

// Renders every page of the sheet to PNG files in a folder (sheet-NN.png; a page with a tree
// also as sheet-NN-selected.png, its first inner node selected) and the dialogs of the pages,
// filled with sample values (dialog-<name>.png), the preview of a save after one edit
// (changes-window.png), the check after two more such edits (check-window.png), the trace of
// the sample's first address (trace-window.png) and the backups of a made-up history beside the
// sample (backups-window.png), and ends with Cancel, so nothing is written:
// for documentation, and to look at the pages without a display.
// Shows the sheet until it is drawn, with the first page's checks done, and ends with Cancel:
// the whole start as the administrator waits for it, for measuring it.
class CShowOnceSheet : public CSheet {
public:
    bool Run(CConfigSet& set, CPrompter& prompter) override;
};

class CRenderSheet : public CSheet {
public:
    explicit CRenderSheet(QString folder) : m_folder(std::move(folder)) {}
    bool Run(CConfigSet& set, CPrompter& prompter) override;
    const QStringList& files() const { return m_files; }

private:
    QString m_folder;
    QStringList m_files;
};
