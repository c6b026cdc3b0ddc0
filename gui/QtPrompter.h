// The prompter with real windows: German message boxes, modal dialogs built from dialog models,
// the progress window, the folder picker; help requests go to the handler the program sets.
#pragma once

#include "app/Prompter.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class CProgressNote;

class CQtPrompter : public CPrompter {
public:
    CQtPrompter();
    ~CQtPrompter() override;

    // The window message boxes and dialogs belong to (the sheet while it is shown).
    void SetOwner(QWidget* owner) { m_owner = owner; }
    QWidget* Owner() const { return m_owner; }
    void SetHelpHandler(std::function<void(unsigned command, unsigned long data)> handler) {
        m_help = std::move(handler);
    }

    Answer ShowMessage(const PromptMessage& message) override;
    bool RunDialog(CDialogModel& dialog) override;
    void OpenProgress(std::string_view text) override;
    void CloseProgress() override;
    std::optional<std::string> BrowseForFolder(std::string_view prompt,
                                               std::string_view startFolder) override;
    void Help(unsigned command, unsigned long data) override;

private:
    QPointer<QWidget> m_owner;
    std::unique_ptr<CProgressNote> m_progress;
    std::function<void(unsigned, unsigned long)> m_help;
};

// A prompter for runs nobody watches (rendering the pages to pictures): message boxes are
// printed to standard error and answered with OK (Yes), dialogs are cancelled, nothing waits.
class CUnattendedPrompter : public CPrompter {
public:
    Answer ShowMessage(const PromptMessage& message) override;
    bool RunDialog(CDialogModel&) override { return false; }
    void OpenProgress(std::string_view) override {}
    void CloseProgress() override {}
    std::optional<std::string> BrowseForFolder(std::string_view, std::string_view) override {
        return std::nullopt;
    }
    void Help(unsigned, unsigned long) override {}
};
