// The user, as a test scripts them: each expected message box with the answer to give, each
// dialog with what to type, each folder choice. A message the script did not expect fails the
// test, and so does an expectation that was never met.
#pragma once

#include "app/Prompter.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

class CScriptedPrompter : public CPrompter {
public:
    ~CScriptedPrompter() override;

    // The next message box must be string number id (of that kind, when given); it is answered
    // with answer.
    CScriptedPrompter& ExpectMessage(unsigned id, Answer answer = Answer::Ok);
    CScriptedPrompter& ExpectMessage(unsigned id, MessageKind kind, Answer answer);
    // The next message box must be a literal text (number 0) that contains part.
    CScriptedPrompter& ExpectText(std::string part, Answer answer = Answer::Ok);
    // The next dialog is handed to fill, which plays the user and returns OK (true) or Cancel.
    CScriptedPrompter& ExpectDialog(std::function<bool(CDialogModel&)> fill);
    // The next folder picker returns folder (nothing: the user cancels).
    CScriptedPrompter& ExpectFolder(std::optional<std::string> folder);

    // Fails the test for every expectation not met yet, and forgets them.
    void VerifyAllMet();

    // What happened, in order: "message 104", "text <text>", "dialog", "folder",
    // "progress <text>", "progress closed", "help <command> <data>".
    const std::vector<std::string>& events() const { return m_events; }
    // The texts of every progress window opened.
    std::vector<std::string> progressTexts() const;
    bool progressOpen() const { return m_progressOpen; }
    // The icon and buttons of every message box shown, in order; a test may clear it.
    std::vector<MessageKind> kinds;

    Answer ShowMessage(const PromptMessage& message) override;
    bool RunDialog(CDialogModel& dialog) override;
    void OpenProgress(std::string_view text) override;
    void CloseProgress() override;
    std::optional<std::string> BrowseForFolder(std::string_view prompt,
                                               std::string_view startFolder) override;
    void Help(unsigned command, unsigned long data) override;

private:
    struct Step {
        enum Kind { Message, Text, Dialog, Folder } kind = Message;
        unsigned id = 0;
        bool checkKind = false;
        MessageKind messageKind = MessageKind::Plain;
        std::string part;
        Answer answer = Answer::Ok;
        std::function<bool(CDialogModel&)> fill;
        std::optional<std::string> folder;
    };
    static Step Make(Step::Kind kind);
    static std::string Describe(const Step& step);
    bool Next(Step::Kind kind, const std::string& what, Step& step);

    std::deque<Step> m_script;
    std::vector<std::string> m_events;
    bool m_progressOpen = false;
};
