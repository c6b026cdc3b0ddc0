#include "app/Prompter.h"

#include "app/Strings.h"

Answer CPrompter::Show(unsigned id, MessageKind kind) {
    return ShowMessage(PromptMessage{id, strings::Text(id), kind});
}

Answer CPrompter::ShowText(std::string_view text, MessageKind kind) {
    return ShowMessage(PromptMessage{0, std::string(text), kind});
}

Answer CPrompter::AskDefaultNo(std::string_view text) {
    return ShowMessage({0, std::string(text), MessageKind::Question, true});
}

Answer CPrompter::AskDefaultNo(unsigned id, MessageKind kind) {
    return ShowMessage({id, strings::Text(id), kind, true});
}
