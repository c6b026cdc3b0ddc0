#include "gui/ModelView.h"

#include "gui/DesignedView.h"
#include "gui/FormView.h"

void CModelView::Bind(QWidget& root) {
    m_binder = std::make_unique<CFieldBinder>(m_model, root);
    // The model has taken the change (FieldChanged) and derived its states from it.
    m_binder->SetEditedHandler([this](const char*) { ShowStates(); });
    m_binder->SetSuggestionSource(
        [this](const CFieldSpec& field) { return m_model.Suggestions(field.id); });
}

CModelView* CreateModelView(CFieldModel& model, CPrompter& prompter, QWidget* parent) {
    if (const char* name = model.FormName())
        if (FormSetup setup = FindForm(name))
            return new CDesignedView(model, prompter, setup, parent);
    return new CFormView(model, prompter, parent);
}
