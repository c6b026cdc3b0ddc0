// What the sheet and the dialog window need of the view of a model, whichever way it is laid
// out: the rows that CFormView builds from the field table, or a Qt Designer form
// (CDesignedView). CreateModelView picks the one the model asks for.
#pragma once

#include "gui/FieldBinder.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class CModelView : public QWidget {
    Q_OBJECT
public:
    CFieldModel& model() { return m_model; }
    CFieldBinder& binder() { return *m_binder; }

    // Shows the model's values and states (after the model has changed them itself).
    virtual void Refresh() = 0;
    // Shows only the model's states, after an edit whose text the user is still typing.
    virtual void ShowStates() = 0;
    // Takes the fields from the controls; false, with the focus on the control, on a refusal.
    bool TakeFields() { return m_binder->ControlsToModel(m_prompter); }
    // The focus on the control of a field the model refused.
    void FocusField(std::string_view id) { m_binder->FocusField(id); }
    // What a command needs before it runs: the fields taken, or, for one that takes them
    // itself, the controls' texts handed over unchecked.
    bool PrepareCommand(const CCommandSpec& command) {
        if (command.takesFields)
            return TakeFields();
        m_binder->HandOverControls();
        return true;
    }

    // The group containers of the form, and who shows or hides one when the model says so,
    // instead of the view (a dialog changes its height with it).
    virtual std::vector<QWidget*> Groups() const { return {}; }
    void SetGroupShower(std::function<void(QWidget* group, bool shown)> shower) {
        m_showGroup = std::move(shower);
    }

protected:
    CModelView(CFieldModel& model, CPrompter& prompter, QWidget* parent)
        : QWidget(parent), m_model(model), m_prompter(prompter) {}
    // Binds the fields once the controls exist; an edit redraws the states.
    void Bind(QWidget& root);

    CFieldModel& m_model;
    CPrompter& m_prompter;
    std::unique_ptr<CFieldBinder> m_binder;
    std::function<void(QWidget*, bool)> m_showGroup;
};

// The view a model asks for: its Designer form when it names one that is built in, otherwise
// the rows of its field table.
CModelView* CreateModelView(CFieldModel& model, CPrompter& prompter, QWidget* parent = nullptr);
