#include "tests/ScriptedPrompter.h"

#include "pages/FieldModel.h"

#include "Common/Ansi.h"

#include <gtest/gtest.h>

CScriptedPrompter::~CScriptedPrompter() {
    VerifyAllMet();
}

CScriptedPrompter::Step CScriptedPrompter::Make(Step::Kind kind) {
    Step step;
    step.kind = kind;
    return step;
}

CScriptedPrompter& CScriptedPrompter::ExpectMessage(unsigned id, Answer answer) {
    Step step = Make(Step::Message);
    step.id = id;
    step.answer = answer;
    m_script.push_back(std::move(step));
    return *this;
}

CScriptedPrompter& CScriptedPrompter::ExpectMessage(unsigned id, MessageKind kind, Answer answer) {
    ExpectMessage(id, answer);
    m_script.back().checkKind = true;
    m_script.back().messageKind = kind;
    return *this;
}

CScriptedPrompter& CScriptedPrompter::ExpectText(std::string part, Answer answer) {
    Step step = Make(Step::Text);
    step.part = std::move(part);
    step.answer = answer;
    m_script.push_back(std::move(step));
    return *this;
}

CScriptedPrompter& CScriptedPrompter::ExpectDialog(std::function<bool(CDialogModel&)> fill) {
    Step step = Make(Step::Dialog);
    step.fill = std::move(fill);
    m_script.push_back(std::move(step));
    return *this;
}

CScriptedPrompter& CScriptedPrompter::ExpectFolder(std::optional<std::string> folder) {
    Step step = Make(Step::Folder);
    step.folder = std::move(folder);
    m_script.push_back(std::move(step));
    return *this;
}

void CScriptedPrompter::VerifyAllMet() {
    for (const Step& step : m_script)
        ADD_FAILURE() << "expected but never shown: " << Describe(step);
    m_script.clear();
}

std::vector<std::string> CScriptedPrompter::progressTexts() const {
    std::vector<std::string> texts;
    for (const std::string& event : m_events)
        if (event.rfind("progress ", 0) == 0 && event != "progress closed")
            texts.push_back(event.substr(9));
    return texts;
}

std::string CScriptedPrompter::Describe(const Step& step) {
    switch (step.kind) {
    case Step::Message:
        return "message " + std::to_string(step.id);
    case Step::Text:
        return "text containing \"" + ansi::ToUtf8(step.part) + "\"";
    case Step::Dialog:
        return "dialog";
    case Step::Folder:
        return "folder picker";
    }
    return "?";
}

bool CScriptedPrompter::Next(Step::Kind kind, const std::string& what, Step& step) {
    if (m_script.empty() || m_script.front().kind != kind) {
        ADD_FAILURE() << "unexpected " << what
                      << (m_script.empty() ? std::string(", nothing more was expected")
                                           : ", expected " + Describe(m_script.front()));
        return false;
    }
    step = std::move(m_script.front());
    m_script.pop_front();
    return true;
}

Answer CScriptedPrompter::ShowMessage(const PromptMessage& message) {
    kinds.push_back(message.kind);
    const bool literal = message.id == 0;
    const std::string what =
        literal ? "text " + ansi::ToUtf8(message.text) : "message " + std::to_string(message.id);
    m_events.push_back(what);
    Step step = Make(Step::Message);
    if (!Next(literal ? Step::Text : Step::Message, what, step))
        return Answer::Cancel;
    if (literal) {
        EXPECT_NE(message.text.find(step.part), std::string::npos)
            << "text \"" << ansi::ToUtf8(message.text) << "\" lacks \"" << ansi::ToUtf8(step.part)
            << "\"";
    } else {
        EXPECT_EQ(message.id, step.id) << "message shown out of order";
        EXPECT_FALSE(message.text.empty()) << "message " << message.id << " has no text";
    }
    if (step.checkKind) {
        EXPECT_EQ(static_cast<int>(message.kind), static_cast<int>(step.messageKind))
            << "kind of " << what;
    }
    return step.answer;
}

bool CScriptedPrompter::RunDialog(CDialogModel& dialog) {
    m_events.push_back("dialog");
    dialog.OnOpen(*this);
    Step step = Make(Step::Dialog);
    if (!Next(Step::Dialog, "dialog", step))
        return false;
    return step.fill ? step.fill(dialog) : true;
}

void CScriptedPrompter::OpenProgress(std::string_view text) {
    m_events.push_back("progress " + std::string(text));
    m_progressOpen = true;
}

void CScriptedPrompter::CloseProgress() {
    m_events.push_back("progress closed");
    m_progressOpen = false;
}

std::optional<std::string> CScriptedPrompter::BrowseForFolder(std::string_view, std::string_view) {
    m_events.push_back("folder");
    Step step = Make(Step::Folder);
    if (!Next(Step::Folder, "folder picker", step))
        return std::nullopt;
    return step.folder;
}

void CScriptedPrompter::Help(unsigned command, unsigned long data) {
    m_events.push_back("help " + std::to_string(command) + " " + std::to_string(data));
}
