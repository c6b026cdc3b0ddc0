// The prompter of a program without a window (the command line): every message goes to a
// text stream, questions are answered from a table the caller gives, and dialogs are filled
// by the caller instead of a user. Whatever the logic refuses, it refuses as it does in the
// sheet; the batch only tells afterwards whether something went wrong.
#pragma once

#include "app/Prompter.h"

#include <functional>
#include <map>
#include <ostream>
#include <vector>

class CBatchPrompter : public CPrompter {
public:
    // Fills a dialog as a user would type into it; false cancels it.
    using DialogFiller = std::function<bool(CDialogModel&)>;

    // Messages go to out as UTF-8, one per paragraph, with their kind in front.
    explicit CBatchPrompter(std::ostream& out) : m_out(out) {}

    // The answer to the question of string-table number id; questions not named get No, and
    // an OK/Cancel notice gets OK.
    void Answer(unsigned id, ::Answer answer) { m_answers[id] = answer; }
    // Dialogs are handed to filler. A dialog that comes back after its own check refused what
    // the filler gave is cancelled: a second try would bring the same values.
    void SetDialogFiller(DialogFiller filler) { m_filler = std::move(filler); }

    // An error was shown, or a dialog's check refused its values.
    bool HadError() const { return m_hadError; }
    void ClearError() { m_hadError = false; }
    // Every message shown, in order.
    const std::vector<PromptMessage>& Shown() const { return m_shown; }

    ::Answer ShowMessage(const PromptMessage& message) override;
    bool RunDialog(CDialogModel& dialog) override;
    void OpenProgress(std::string_view) override {}
    void CloseProgress() override {}
    std::optional<std::string> BrowseForFolder(std::string_view, std::string_view) override {
        return std::nullopt;
    }
    void Help(unsigned, unsigned long) override {}

private:
    std::ostream& m_out;
    std::map<unsigned, ::Answer> m_answers;
    DialogFiller m_filler;
    std::vector<const CDialogModel*> m_filled;
    std::vector<PromptMessage> m_shown;
    bool m_hadError = false;
};
