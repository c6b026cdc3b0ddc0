// The view of a page or dialog model, built from its field table: one row per field (label,
// control, and the button that stands beside it), in the table's screen order. A button takes
// the fields from the controls, runs the model's handler and shows the fields again; nothing
// else happens here.
#pragma once

#include "gui/FieldBinder.h"

#include <QWidget>

#include <functional>
#include <memory>

class QPushButton;

class CFormView : public QWidget {
    Q_OBJECT
public:
    CFormView(CFieldModel& model, CPrompter& prompter, QWidget* parent = nullptr);

    CFieldModel& model() { return m_model; }
    CFieldBinder& binder() { return *m_binder; }
    QPushButton* CommandButton(std::string_view id) const;

    // Shows the model's values and enable states.
    void Refresh();
    // Takes the fields from the controls; false, with the focus on the control, on a refusal.
    bool TakeFields();

    // Called with the field's id whenever the user edits a control.
    void SetEditedHandler(std::function<void(const char* id)> handler);

private:
    CFieldModel& m_model;
    CPrompter& m_prompter;
    std::unique_ptr<CFieldBinder> m_binder;
    std::vector<std::pair<const CCommandSpec*, QPushButton*>> m_buttons;
};
