// The window "Sicherungen": the backup copies of the configuration directory grouped by the save
// that took them, each copy compared with today's file, a moment restored (which reloads the
// program) or deleted. The history itself (listing, diff, restore, delete) is backups::.
#pragma once

#include "Common/BackupFolder.h"
#include "app/Prompter.h"

#include <QDialog>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

class QLabel;
class QListWidget;
class QPushButton;
class QTextEdit;
class QTreeWidget;

// "512 Bytes", "12,3 KB", "4,0 MB".
QString SizeText(std::uint64_t bytes);

class CBackupsWindow : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kCaption = "Sicherungen";
    static constexpr const char* kRestoreBlocked =
        "Wiederherstellen ist nur möglich, solange im Programm nichts geändert wurde. "
        "Speichern Sie mit „OK“ oder verwerfen Sie mit „Abbrechen“ und öffnen Sie das "
        "Programm erneut.";

    // mayRestore: the sheet holds nothing that a restore and the reload after it would lose
    // (no edit, nothing applied, nothing written at once).
    CBackupsWindow(std::string configDir, bool mayRestore, CPrompter& prompter,
                   QWidget* parent = nullptr);

    // How the running services are asked to restart after a restore; by default the machine's
    // service manager.
    using ServiceRestart = std::function<void(CPrompter&)>;
    void SetServiceRestart(ServiceRestart restart) { m_restartServices = std::move(restart); }

    // Whether a moment was restored: the window has closed, and the configuration the program
    // holds is no longer the one on disk.
    bool Restored() const { return m_restored; }

    // Reads the folder anew and shows it, the newest moment selected.
    void Reload();
    // The buttons' work, without their questions' windows of their own.
    void RestoreSelected();
    void DeleteSelected();

    const backupfolder::Listing& listing() const { return m_listing; }
    QTreeWidget* momentList() const { return m_moments; }
    QListWidget* copyList() const { return m_copies; }
    QTextEdit* diffView() const { return m_diff; }
    QLabel* restoreNote() const { return m_restoreNote; }
    QLabel* foreignNote() const { return m_foreignNote; }
    QLabel* folderMessage() const { return m_folderMessage; }
    QPushButton* restoreButton() const { return m_restore; }
    QPushButton* deleteButton() const { return m_delete; }
    QPushButton* closeButton() const { return m_close; }
    QPushButton* helpButton() const { return m_help; }

private:
    const backupfolder::Moment* SelectedMoment() const;
    void ShowMoment();
    void ShowCopy();
    void UpdateButtons();

    std::string m_configDir;
    bool m_mayRestore;
    CPrompter& m_prompter;
    ServiceRestart m_restartServices;
    backupfolder::Listing m_listing;
    // Today's files as they were when the moment was shown: a restore does not replace a file
    // that changed since the user looked at the difference.
    std::map<std::string, std::uint64_t> m_expected;
    bool m_restored = false;

    QTreeWidget* m_moments;
    QListWidget* m_copies;
    QTextEdit* m_diff;
    QLabel* m_folderMessage;
    QLabel* m_restoreNote;
    QLabel* m_foreignNote;
    QPushButton* m_restore;
    QPushButton* m_delete;
    QPushButton* m_close;
    QPushButton* m_help;
};
