// How the logic talks to the user. Page and dialog models never show anything themselves; they
// call this interface, which the Qt layer implements with real windows and the tests with a
// script. Texts are in the program's 8-bit code page (Windows-1252); the Qt layer converts them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Icon and buttons of a message box.
enum class MessageKind {
    Plain,               // a notice, OK (shown with the information icon)
    Error,               // stop icon, OK
    Warning,             // exclamation icon, OK
    Information,         // information icon, OK
    InformationOkCancel, // information icon, OK and Cancel
    Question,            // question icon, Yes and No
    QuestionWarning,     // exclamation icon, Yes and No: a question before something is deleted
};

enum class Answer { Ok, Cancel, Yes, No };

// One message box: its string-table number (0 for a text that has none) and the text shown,
// already formatted.
struct PromptMessage {
    unsigned id = 0;
    std::string text;
    MessageKind kind = MessageKind::Plain;
    // A question whose "Yes" would throw away something that cannot be had back (another
    // program's changes, a save without its backup): "No" is the default button, so that a
    // Return pressed out of habit keeps what is there.
    bool defaultNo = false;
};

// A dialog that a model describes completely (its fields, checks and handlers); the Qt layer
// builds the view for it. Defined with the page models.
class CDialogModel;

class CPrompter {
public:
    virtual ~CPrompter() = default;

    // Shows a message box and waits for the answer.
    virtual Answer ShowMessage(const PromptMessage& message) = 0;
    // Runs a dialog modally; true when it ended with OK (the model's fields then hold the
    // user's values), false for Cancel.
    virtual bool RunDialog(CDialogModel& dialog) = 0;
    // The progress window: a small window without buttons naming what the program is doing
    // while it blocks. Open replaces a text that is still shown.
    virtual void OpenProgress(std::string_view text) = 0;
    virtual void CloseProgress() = 0;
    // The folder picker with a prompt; nothing when the user cancels.
    virtual std::optional<std::string> BrowseForFolder(std::string_view prompt,
                                                       std::string_view startFolder) = 0;
    // A help request (the command and data of the help call).
    virtual void Help(unsigned command, unsigned long data) = 0;

    // Shorthands: the text of a string-table number, and a literal text.
    Answer Show(unsigned id, MessageKind kind = MessageKind::Plain);
    Answer ShowText(std::string_view text, MessageKind kind = MessageKind::Plain);
    // A question with "No" as the default button (see defaultNo): a literal text, or the text
    // of a string-table number.
    Answer AskDefaultNo(std::string_view text);
    Answer AskDefaultNo(unsigned id, MessageKind kind = MessageKind::Question);
};

// Keeps the progress window open for one block of work.
class CProgressScope {
public:
    CProgressScope(CPrompter& prompter, std::string_view text) : m_prompter(prompter) {
        m_prompter.OpenProgress(text);
    }
    ~CProgressScope() { m_prompter.CloseProgress(); }
    CProgressScope(const CProgressScope&) = delete;
    CProgressScope& operator=(const CProgressScope&) = delete;

private:
    CPrompter& m_prompter;
};
