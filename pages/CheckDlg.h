// "Prüfung der Konfiguration": the findings of CheckConfiguration in a list, the critical ones
// first, and "Gehe zu" to take the administrator to the page where a finding can be mended.
// Which page that is, is the sheet's business: the window only notes the finding chosen.
#pragma once

#include "pages/ConfigCheck.h"
#include "pages/FieldModel.h"
#include "pages/Help.h"
#include "pages/RowModel.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How many findings of each severity, as one German line in UTF-8: "Keine Befunde",
// "1 kritischer Befund, 2 Warnungen".
std::string FindingsSummary(const std::vector<CFinding>& findings);

// The findings, critical first and otherwise in the order of the check.
class CFindingRows : public CRowModel {
public:
    enum Icon : int { kCriticalIcon = 0, kWarningIcon = 1 };

    explicit CFindingRows(std::vector<CFinding> findings);

    std::span<const CColumnSpec> Columns() const override;
    std::span<const char* const> Icons() const override;
    std::size_t RowCount() const override { return m_findings.size(); }
    std::string CellText(std::size_t row, std::size_t column) const override;
    int RowIcon(std::size_t row) const override;

    // The finding a row shows.
    const CFinding& Finding(std::size_t row) const { return m_findings[row]; }
    const std::vector<CFinding>& Findings() const { return m_findings; }

private:
    std::vector<CFinding> m_findings; // in the order shown
};

class CCheckDlg : public CDialogModel {
public:
    static constexpr const char* kFindings = "findings"; // the list
    static constexpr const char* kSummary = "summary";   // the counts, one line
    static constexpr const char* kGoTo = "goTo";         // button and double click

    explicit CCheckDlg(std::vector<CFinding> findings);

    const char* Caption() const override { return "Prüfung der Konfiguration"; }
    const char* FormName() const override { return "CheckDlg"; }
    unsigned HelpContext() const override { return help::resource::kCheckWindow; }
    bool CloseOnly() const override { return true; }
    std::span<const CFieldSpec> Fields() const override;
    std::span<const CCommandSpec> Commands() const override;
    std::span<const CListSpec> Lists() const override;
    CRowModel* RowsOf(std::string_view listId) override;
    void OnCommand(std::string_view commandId, CPrompter& prompter) override;
    // "Gehe zu" acts on the selected finding only.
    void UpdateStates() override;

    // The finding "Gehe zu" was given for; nothing when the window was closed without it.
    std::optional<CFinding> Chosen() const { return m_chosen; }
    const CFindingRows& rows() const { return m_rows; }

private:
    CFindingRows m_rows;
    std::optional<CFinding> m_chosen;
};
