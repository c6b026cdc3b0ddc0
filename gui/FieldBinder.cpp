#include "gui/FieldBinder.h"

#include "gui/TextCodec.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include <algorithm>

CFieldBinder::CFieldBinder(CFieldModel& model, QWidget& root) : m_model(model) {
    for (const CFieldSpec& field : model.Fields()) {
        const auto found = root.findChildren<QWidget*>(QString::fromLatin1(field.id));
        Q_ASSERT_X(found.size() == 1, "CFieldBinder", field.id);
        if (found.isEmpty())
            continue;
        QWidget* control = found.front();
        // A label that names the control greys with it: a disabled field under a black label
        // reads as editable.
        QLabel* label = nullptr;
        for (QLabel* candidate : root.findChildren<QLabel*>())
            if (candidate->buddy() == control)
                label = candidate;
        m_bindings.push_back({&field, control, label});
        if (auto* edit = qobject_cast<QLineEdit*>(control)) {
            if (field.maxLength > 0)
                edit->setMaxLength(field.maxLength);
            QObject::connect(edit, &QLineEdit::textEdited, edit, [this, &field] {
                if (!m_loading && m_onEdited)
                    m_onEdited(field.id);
            });
        } else if (auto* spin = qobject_cast<QSpinBox*>(control)) {
            // The arrows step within their own range; typing reaches the accepted range too,
            // and the model's check refuses what lies outside it.
            spin->setRange(static_cast<int>(std::min(field.minimum, field.arrowMinimum)),
                           static_cast<int>(std::max(field.maximum, field.arrowMaximum)));
            QObject::connect(spin, &QSpinBox::valueChanged, spin, [this, &field] {
                if (!m_loading && m_onEdited)
                    m_onEdited(field.id);
            });
        } else if (auto* check = qobject_cast<QCheckBox*>(control)) {
            QObject::connect(check, &QCheckBox::toggled, check, [this, &field] {
                if (!m_loading && m_onEdited)
                    m_onEdited(field.id);
            });
        }
    }
}

void CFieldBinder::SetEditedHandler(std::function<void(const char* id)> handler) {
    m_onEdited = std::move(handler);
}

QWidget* CFieldBinder::ControlOf(std::string_view id) const {
    for (const Binding& binding : m_bindings)
        if (id == binding.field->id)
            return binding.control;
    return nullptr;
}

void CFieldBinder::ModelToControls() {
    m_loading = true;
    for (const Binding& binding : m_bindings) {
        const std::string& value = m_model.Value(binding.field->id);
        if (auto* edit = qobject_cast<QLineEdit*>(binding.control))
            edit->setText(FromAnsi(value));
        else if (auto* spin = qobject_cast<QSpinBox*>(binding.control))
            spin->setValue(static_cast<int>(m_model.Number(binding.field->id)));
        else if (auto* check = qobject_cast<QCheckBox*>(binding.control))
            check->setChecked(m_model.Number(binding.field->id) != 0);
        const bool enabled = m_model.IsEnabled(binding.field->id);
        binding.control->setEnabled(enabled);
        if (binding.label)
            binding.label->setEnabled(enabled);
    }
    m_loading = false;
}

std::string CFieldBinder::ReadControl(const Binding& binding) const {
    if (auto* edit = qobject_cast<QLineEdit*>(binding.control))
        return ToAnsi(edit->text());
    if (auto* spin = qobject_cast<QSpinBox*>(binding.control))
        return ToAnsi(spin->cleanText());
    if (auto* check = qobject_cast<QCheckBox*>(binding.control))
        return check->isChecked() ? "1" : "0";
    return m_model.Value(binding.field->id);
}

bool CFieldBinder::ControlsToModel(CPrompter& prompter) {
    const auto refused = m_model.TakeFields(
        [this](const CFieldSpec& field) {
            for (const Binding& binding : m_bindings)
                if (binding.field == &field)
                    return ReadControl(binding);
            return m_model.Value(field.id);
        },
        prompter);
    if (!refused)
        return true;
    if (QWidget* control = ControlOf(*refused)) {
        control->setFocus();
        if (auto* edit = qobject_cast<QLineEdit*>(control))
            edit->selectAll();
    }
    return false;
}
