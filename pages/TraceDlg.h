// "Zustellweg anzeigen": where mail to an address goes with the configuration in memory, step
// by step, each step with the entry that decided it. The window only shows; it changes nothing,
// so what the user has just edited on the pages is traced before anything is saved.
#pragma once

#include "app/ConfigSet.h"
#include "pages/AddressTrace.h"
#include "pages/FieldModel.h"
#include "pages/Help.h"
#include "pages/RowModel.h"

#include <string>
#include <string_view>
#include <vector>

// The steps of one trace, one row each: the step and the entry that decided it.
class CTraceRows : public CRowModel {
public:
    std::span<const CColumnSpec> Columns() const override;
    std::size_t RowCount() const override { return m_rows.size(); }
    std::string CellText(std::size_t row, std::size_t column) const override;

    void Fill(const CTrace& trace);
    void Clear();

private:
    struct Row {
        std::string step;      // code page
        std::string decidedBy; // code page
    };
    std::vector<Row> m_rows;
};

class CTraceDlg : public CDialogModel {
public:
    static constexpr const char* kAddress = "address"; // the address to trace, code page
    static constexpr const char* kTrace = "trace";     // the button beside it
    static constexpr const char* kSteps = "steps";     // the list of steps
    static constexpr const char* kResult = "result";   // where the mail ends, one line

    // address: traced as soon as the window opens; empty to let the user type one.
    explicit CTraceDlg(const CConfigSet& set, std::string_view address = {});

    const char* Caption() const override { return "Zustellweg anzeigen"; }
    const char* FormName() const override { return "TraceDlg"; }
    unsigned HelpContext() const override { return help::resource::kTraceWindow; }
    bool CloseOnly() const override { return true; }
    std::span<const CFieldSpec> Fields() const override;
    std::span<const CCommandSpec> Commands() const override;
    std::span<const CListSpec> Lists() const override;
    CRowModel* RowsOf(std::string_view listId) override;
    void OnOpen(CPrompter& prompter) override;
    void OnCommand(std::string_view commandId, CPrompter& prompter) override;
    // "Verfolgen" needs an address to trace.
    void UpdateStates() override;

    // Traces the address of the field; false after the message when it cannot be traced, and
    // then the list and the result line are empty.
    bool TraceNow(CPrompter& prompter);

    const CTraceRows& rows() const { return m_rows; }

private:
    const CConfigSet& m_set;
    CTraceRows m_rows;
};

// The result line for a trace: where the mail ends, a German sentence in the code page.
std::string TraceResultText(const CTrace& trace);
