#include "pages/CheckDlg.h"

#include "Common/Ansi.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<CColumnSpec, 3> kFindingColumns{{
    {.heading = "Datei", .widthShare = 180},
    {.heading = "Schlüssel", .widthShare = 220},
    {.heading = "Befund", .widthShare = 0},
}};
constexpr std::array<const char*, 2> kFindingIcons{{"finding-critical", "finding-warning"}};

// The summary is its own line of the form, not a field anybody types in.
constexpr std::array<CFieldSpec, 1> kCheckFields{{
    {.id = CCheckDlg::kSummary, .type = FieldType::Text, .label = "", .flags = kFieldReadOnly},
}};

constexpr std::array<CCommandSpec, 1> kCheckCommands{{
    {.id = CCheckDlg::kGoTo,
     .label = "&Gehe zu",
     .listId = CCheckDlg::kFindings,
     .doubleClick = true},
}};

constexpr std::array<CListSpec, 1> kCheckLists{
    {{.id = CCheckDlg::kFindings, .kind = CListSpec::Kind::List}}};

std::string Counted(std::size_t count, const char* one, const char* several) {
    return std::to_string(count) + " " + (count == 1 ? one : several);
}

} // namespace

std::string FindingsSummary(const std::vector<CFinding>& findings) {
    const auto critical = static_cast<std::size_t>(
        std::count_if(findings.begin(), findings.end(),
                      [](const CFinding& f) { return f.severity == Severity::Critical; }));
    const std::size_t warnings = findings.size() - critical;
    if (findings.empty())
        return "Keine Befunde";
    std::string summary;
    if (critical)
        summary = Counted(critical, "kritischer Befund", "kritische Befunde");
    if (warnings)
        summary += (summary.empty() ? "" : ", ") + Counted(warnings, "Warnung", "Warnungen");
    return summary;
}

// --- The rows --------------------------------------------------------------------------------

CFindingRows::CFindingRows(std::vector<CFinding> findings) : m_findings(std::move(findings)) {
    std::stable_sort(
        m_findings.begin(), m_findings.end(), [](const CFinding& a, const CFinding& b) {
            return a.severity == Severity::Critical && b.severity != Severity::Critical;
        });
}

std::span<const CColumnSpec> CFindingRows::Columns() const {
    return kFindingColumns;
}

std::span<const char* const> CFindingRows::Icons() const {
    return kFindingIcons;
}

std::string CFindingRows::CellText(std::size_t row, std::size_t column) const {
    if (row >= m_findings.size())
        return {};
    const CFinding& finding = m_findings[row];
    switch (column) {
    case 0:
        return finding.file;
    case 1:
        return finding.key;
    case 2:
        // The check writes its sentences in UTF-8; the rows hold the code page.
        return ansi::FromUtf8(finding.text);
    default:
        return {};
    }
}

int CFindingRows::RowIcon(std::size_t row) const {
    if (row >= m_findings.size())
        return -1;
    return m_findings[row].severity == Severity::Critical ? kCriticalIcon : kWarningIcon;
}

// --- The window ------------------------------------------------------------------------------

CCheckDlg::CCheckDlg(std::vector<CFinding> findings) : m_rows(std::move(findings)) {
    SetValue(kSummary, ansi::FromUtf8(FindingsSummary(m_rows.Findings())));
    UpdateStates();
}

std::span<const CFieldSpec> CCheckDlg::Fields() const {
    return kCheckFields;
}

std::span<const CCommandSpec> CCheckDlg::Commands() const {
    return kCheckCommands;
}

std::span<const CListSpec> CCheckDlg::Lists() const {
    return kCheckLists;
}

CRowModel* CCheckDlg::RowsOf(std::string_view listId) {
    return listId == kFindings ? &m_rows : nullptr;
}

void CCheckDlg::UpdateStates() {
    SetEnabled(kGoTo, m_rows.Selected().has_value());
}

void CCheckDlg::OnCommand(std::string_view commandId, CPrompter& /*prompter*/) {
    if (commandId != kGoTo)
        return;
    const auto row = m_rows.Selected();
    if (!row)
        return;
    m_chosen = m_rows.Finding(*row);
    EndWithOk();
}
