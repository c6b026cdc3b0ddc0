#include "pages/TraceDlg.h"

#include "Common/Ansi.h"
#include "app/Strings.h"

#include <array>

namespace {

constexpr std::array<CColumnSpec, 2> kStepColumns{{
    {.heading = "Schritt", .widthShare = 650},
    {.heading = "Entschieden durch", .widthShare = 0},
}};

constexpr std::array<CFieldSpec, 2> kTraceFields{{
    // Every keystroke reaches the model, so that "Verfolgen" is enabled as soon as there is
    // something to trace.
    {.id = CTraceDlg::kAddress,
     .type = FieldType::Text,
     .label = "&Adresse:",
     .row = 0,
     .flags = kFieldImmediate},
    {.id = CTraceDlg::kResult,
     .type = FieldType::Text,
     .label = "",
     .row = 1,
     .flags = kFieldReadOnly},
}};

constexpr std::array<CCommandSpec, 1> kTraceCommands{{
    {.id = CTraceDlg::kTrace, .label = "&Verfolgen", .fieldId = CTraceDlg::kAddress},
}};

constexpr std::array<CListSpec, 1> kTraceLists{
    {{.id = CTraceDlg::kSteps, .kind = CListSpec::Kind::List}}};

} // namespace

// --- The steps -------------------------------------------------------------------------------

std::span<const CColumnSpec> CTraceRows::Columns() const {
    return kStepColumns;
}

std::string CTraceRows::CellText(std::size_t row, std::size_t column) const {
    if (row >= m_rows.size())
        return {};
    return column == 0 ? m_rows[row].step : column == 1 ? m_rows[row].decidedBy : std::string();
}

void CTraceRows::Fill(const CTrace& trace) {
    m_rows.clear();
    // The trace speaks UTF-8; rows hold the code page like every text of the lists.
    for (const CTraceStep& step : trace.steps)
        m_rows.push_back({ansi::FromUtf8(step.text), ansi::FromUtf8(step.decidedBy)});
    Reset();
}

void CTraceRows::Clear() {
    m_rows.clear();
    Reset();
}

std::string TraceResultText(const CTrace& trace) {
    switch (trace.end) {
    case CTrace::End::Account:
        return strings::Literal("Die Mail landet im Postfach des Kontos \"%s\".", trace.account);
    case CTrace::End::Outgoing:
        return strings::Literal("Die Mail verlässt den Server.");
    case CTrace::End::Refused:
        return strings::Literal("Die Mail wird abgewiesen.");
    case CTrace::End::Loop:
        return strings::Literal("Die Weiterleitungen bilden eine Schleife: die Mail kommt nie an.");
    }
    return {};
}

// --- The window ------------------------------------------------------------------------------

CTraceDlg::CTraceDlg(const CConfigSet& set, std::string_view address) : m_set(set) {
    SetValue(kAddress, std::string(address));
    UpdateStates();
}

std::span<const CFieldSpec> CTraceDlg::Fields() const {
    return kTraceFields;
}

std::span<const CCommandSpec> CTraceDlg::Commands() const {
    return kTraceCommands;
}

std::span<const CListSpec> CTraceDlg::Lists() const {
    return kTraceLists;
}

CRowModel* CTraceDlg::RowsOf(std::string_view listId) {
    return listId == kSteps ? &m_rows : nullptr;
}

void CTraceDlg::OnOpen(CPrompter& prompter) {
    if (!Value(kAddress).empty())
        TraceNow(prompter);
}

void CTraceDlg::OnCommand(std::string_view commandId, CPrompter& prompter) {
    if (commandId == kTrace)
        TraceNow(prompter);
}

void CTraceDlg::UpdateStates() {
    SetEnabled(kTrace, !Value(kAddress).empty());
}

bool CTraceDlg::TraceNow(CPrompter& prompter) {
    const std::string& address = Value(kAddress);
    std::optional<std::string> refusal = TraceAddressRefusal(address);
    // The field holds the code page: a character it lacks arrives as "?", and tracing what is
    // left would follow an address the user never typed.
    if (!refusal && address.find('?') != std::string::npos)
        refusal = strings::Literal(
            "Die Adresse \"%s\" enthält ein \"?\". Zeichen, die die Konfigurationsdateien nicht "
            "darstellen können (Windows-1252), erscheinen so; bitte geben Sie die Adresse ohne "
            "sie ein.",
            address);
    if (refusal) {
        // The steps of an earlier address must not stand under this one.
        m_rows.Clear();
        SetValue(kResult, {});
        prompter.ShowText(*refusal, MessageKind::Warning);
        return false;
    }
    const CTrace trace = TraceAddress(m_set, address);
    m_rows.Fill(trace);
    SetValue(kResult, TraceResultText(trace));
    return true;
}
