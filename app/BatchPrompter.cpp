#include "app/BatchPrompter.h"

#include "Common/Ansi.h"

#include <algorithm>

namespace {

const char* KindLabel(MessageKind kind) {
    switch (kind) {
    case MessageKind::Error:
        return "Fehler";
    case MessageKind::Warning:
        return "Warnung";
    case MessageKind::Question:
    case MessageKind::QuestionWarning:
        return "Frage";
    default:
        return "Hinweis";
    }
}

} // namespace

::Answer CBatchPrompter::ShowMessage(const PromptMessage& message) {
    m_shown.push_back(message);
    if (message.kind == MessageKind::Error)
        m_hadError = true;
    // Some texts of the string table name their kind themselves ("Fehler: ...").
    const std::string label = std::string(KindLabel(message.kind)) + ": ";
    const std::string text = ansi::ToUtf8(message.text);
    m_out << (text.starts_with(label) ? "" : label) << text;
    ::Answer answer = ::Answer::Ok;
    if (message.kind == MessageKind::Question || message.kind == MessageKind::QuestionWarning) {
        const auto given = m_answers.find(message.id);
        answer = given != m_answers.end() ? given->second : ::Answer::No;
        m_out << (answer == ::Answer::Yes ? " [Ja]" : " [Nein]");
    } else if (message.kind == MessageKind::InformationOkCancel) {
        const auto given = m_answers.find(message.id);
        answer = given != m_answers.end() ? given->second : ::Answer::Ok;
    }
    m_out << '\n';
    return answer;
}

bool CBatchPrompter::RunDialog(CDialogModel& dialog) {
    if (std::find(m_filled.begin(), m_filled.end(), &dialog) != m_filled.end()) {
        m_hadError = true; // its check refused the values and said why
        return false;
    }
    m_filled.push_back(&dialog);
    return m_filler && m_filler(dialog);
}
