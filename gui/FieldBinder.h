// Binds the controls of a view to the fields of a model, by the field table: each field's
// control is the child whose object name is the field's id. The binder applies the table's
// limits to the controls and moves values both ways; the checks themselves are the model's.
#pragma once

#include "pages/FieldModel.h"

#include <QWidget>

class QLabel;

#include <functional>
#include <vector>

class CFieldBinder {
public:
    // Binds every field of the model's table; in a debug build it asserts that each field has
    // exactly one control.
    CFieldBinder(CFieldModel& model, QWidget& root);

    // Fields to controls, with the model's enable states; never fails.
    void ModelToControls();
    // Controls to fields with the model's checks. On a refusal the prompter has shown it, the
    // focus is on the refused control, and the result is false.
    bool ControlsToModel(CPrompter& prompter);

    // Called with the field's id whenever the user edits a control.
    void SetEditedHandler(std::function<void(const char* id)> handler);

    QWidget* ControlOf(std::string_view id) const;

private:
    struct Binding {
        const CFieldSpec* field;
        QWidget* control;
        QLabel* label; // the label whose buddy the control is, if any
    };
    std::string ReadControl(const Binding& binding) const;

    CFieldModel& m_model;
    std::vector<Binding> m_bindings;
    bool m_loading = false; // ModelToControls is writing: no edit notifications
    std::function<void(const char* id)> m_onEdited;
};
