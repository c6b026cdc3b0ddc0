#include "pages/FieldModel.h"

#include "Common/Ansi.h"
#include "Common/MapEx.h"
#include "Common/TextFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

std::string LabelText(const CFieldSpec& field) {
    std::string label = field.label ? field.label : "";
    std::erase(label, '&');
    if (!label.empty() && label.back() == ':')
        label.pop_back();
    return ansi::FromUtf8(label);
}

const CFieldSpec* CFieldModel::FindField(std::string_view id) const {
    for (const CFieldSpec& field : Fields())
        if (id == field.id)
            return &field;
    return nullptr;
}

const std::string& CFieldModel::Value(std::string_view id) const {
    static const std::string empty;
    auto it = m_values.find(id);
    return it == m_values.end() ? empty : it->second;
}

long CFieldModel::Number(std::string_view id) const {
    return ParseLeadingInt(Value(id));
}

void CFieldModel::SetValue(std::string_view id, std::string value) {
    auto it = m_values.find(id);
    if (it == m_values.end())
        m_values.emplace(std::string(id), std::move(value));
    else if (it->second != value)
        it->second = std::move(value);
    else
        return;
    ++m_revision;
}

void CFieldModel::SetNumber(std::string_view id, long value) {
    SetValue(id, std::to_string(value));
}

void CFieldModel::SetVisible(std::string_view id, bool visible) {
    const bool changed =
        visible ? m_hidden.erase(std::string(id)) > 0 : m_hidden.insert(std::string(id)).second;
    if (changed)
        ++m_revision;
}

void CFieldModel::FieldChanged(std::string_view id, std::optional<std::string> value) {
    if (value)
        SetValue(id, std::move(*value));
    OnFieldEdited(id);
    UpdateStates();
}

void CFieldModel::RunCommand(std::string_view commandId, CPrompter& prompter) {
    // A command that is switched off does nothing, whatever the view lets through.
    if (!IsEnabled(commandId))
        return;
    OnCommand(commandId, prompter);
    UpdateStates();
}

void CFieldModel::SelectionChanged(std::string_view listId, CPrompter& prompter) {
    OnSelectionChanged(listId, prompter);
    UpdateStates();
}

const CCommandSpec* CFieldModel::FindCommand(std::string_view id) const {
    for (const CCommandSpec& command : Commands())
        if (id == command.id)
            return &command;
    return nullptr;
}

const CListSpec* CFieldModel::FindList(std::string_view id) const {
    for (const CListSpec& list : Lists())
        if (id == list.id)
            return &list;
    return nullptr;
}

void CFieldModel::SetEnabled(std::string_view id, bool enabled) {
    const bool changed =
        enabled ? m_disabled.erase(std::string(id)) > 0 : m_disabled.insert(std::string(id)).second;
    if (changed)
        ++m_revision;
}

namespace {

// Windows-1252, as every text handed to the prompter ("Zeilenumbrüche", "außer").
const char* const kSingleLineControl = "Der Wert darf keine Zeilenumbr\xFC"
                                       "che, Tabulatoren oder anderen Steuerzeichen enthalten.";
const char* const kMultiLineControl = "Der Text darf au\xDF"
                                      "er Zeilenumbr\xFC"
                                      "chen und Tabulatoren keine Steuerzeichen enthalten.";

// A single-line value ends up as the value of a key-value line or as one line of a list: a line
// break would start a line of its own (an entry nobody typed), and a tab is layout there, lost
// at either end of the value.
// A multi-line text is stored in a message file, where CR LF and tabs are ordinary text; no
// file of the suite keeps any other control character, and a NUL would cut the text short.
std::optional<std::string> ControlCharacterRefusal(const CFieldSpec& field,
                                                   std::string_view value) {
    const bool multiLine = (field.flags & kFieldMultiLine) != 0;
    for (char c : value) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F)
            continue;
        if (multiLine && (c == '\r' || c == '\n' || c == '\t'))
            continue;
        return std::string(multiLine ? kMultiLineControl : kSingleLineControl);
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> CFieldModel::Refusal(const CFieldSpec& field, std::string_view value) {
    char text[160];
    switch (field.type) {
    case FieldType::Text:
        if (field.maxLength > 0 && value.size() > static_cast<std::size_t>(field.maxLength)) {
            std::snprintf(text, sizeof text, "Geben Sie nicht mehr als %d Zeichen ein.",
                          field.maxLength);
            return std::string(text);
        }
        return ControlCharacterRefusal(field, value);
    case FieldType::Number: {
        // The whole text must be a number: "12a" or an empty field is no number.
        const std::string digits(value);
        char* end = nullptr;
        errno = 0;
        const long number = digits.empty() ? 0 : std::strtol(digits.c_str(), &end, 10);
        const bool whole = !digits.empty() && end && *end == '\0' && errno == 0;
        if (!whole || number < field.minimum || number > field.maximum) {
            std::snprintf(text, sizeof text, "Geben Sie eine ganze Zahl zwischen %ld und %ld ein.",
                          field.minimum, field.maximum);
            return std::string(text);
        }
        return std::nullopt;
    }
    case FieldType::Check:
        return std::nullopt;
    case FieldType::Choice:
        // The controls offer only the table's values; anything else is a fault of the caller.
        if (value.empty() && (field.flags & kFieldMayBeEmpty))
            return std::nullopt;
        for (const CChoice& choice : field.choices)
            if (value == choice.value)
                return std::nullopt;
        return std::string("Bitte w\xE4hlen Sie einen der angebotenen Werte.");
    }
    return std::nullopt;
}

std::optional<std::string>
CFieldModel::TakeFields(const std::function<std::string(const CFieldSpec&)>& read,
                        CPrompter& prompter) {
    for (const CFieldSpec& field : Fields()) {
        // Read-only fields show what the model set, and a search reached the model as it was
        // typed; there is nothing of the user's to take.
        if (field.flags & (kFieldReadOnly | kFieldSearch))
            continue;
        if (!TakeField(field, read(field), prompter))
            return std::string(field.id);
    }
    UpdateStates();
    return std::nullopt;
}

bool CFieldModel::TakeField(const CFieldSpec& field, std::string value, CPrompter& prompter) {
    if (field.type == FieldType::Number)
        value = std::string(textfile::Trim(value));
    if (auto refusal = Refusal(field, value)) {
        prompter.ShowText(*refusal, MessageKind::Warning);
        return false;
    }
    if (field.type == FieldType::Number)
        value = std::to_string(std::strtol(value.c_str(), nullptr, 10));
    SetValue(field.id, std::move(value));
    return true;
}

const char* CPageModel::FieldOfKey(std::string_view key) const {
    if (key.empty())
        return nullptr;
    for (const CFieldSpec& field : Fields())
        for (const char* name : {field.key, field.olderKey, field.id})
            if (name && ansi::EqualNoCase(key, name))
                return field.id;
    return nullptr;
}

void CPageModel::OnFieldEdited(std::string_view id) {
    const CFieldSpec* field = FindField(id);
    if (!field || !(field->flags & kFieldSearch))
        SetModified();
}

void CPageModel::SetModified(bool modified) {
    if (m_modified == modified)
        return;
    m_modified = modified;
    if (m_onModified)
        m_onModified(modified);
}

void CPageModel::LockCancel() {
    if (m_lockCancel)
        m_lockCancel();
}

bool CDialogModel::RefuseField(CPrompter& prompter, const char* field, std::string_view text) {
    prompter.ShowText(text, MessageKind::Error);
    m_refusedField = field;
    return false;
}

bool CDialogModel::RefuseField(CPrompter& prompter, const char* field, unsigned message) {
    prompter.Show(message, MessageKind::Error);
    m_refusedField = field;
    return false;
}

void CDialogModel::EndWithOk() {
    m_endedWithOk = true;
    if (m_onEnd)
        m_onEnd();
}

bool RunDialogAccepted(CPrompter& prompter, CDialogModel& dialog) {
    while (prompter.RunDialog(dialog))
        if (dialog.OnOk(prompter))
            return true;
    return false;
}
