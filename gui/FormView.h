// The view of a page or dialog model, built from its field table: one row per field (label,
// control, and the button that stands beside it), in the table's screen order. A button takes
// the fields from the controls, runs the model's handler and shows the fields again; nothing
// else happens here.
#pragma once

#include "gui/ModelView.h"

class QPushButton;

class CFormView : public CModelView {
    Q_OBJECT
public:
    CFormView(CFieldModel& model, CPrompter& prompter, QWidget* parent = nullptr);

    QPushButton* CommandButton(std::string_view id) const;

    void Refresh() override;
    void ShowStates() override;

private:
    std::vector<std::pair<const CCommandSpec*, QPushButton*>> m_buttons;
};
