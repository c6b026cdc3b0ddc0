#include "gui/FormView.h"

#include "gui/ArrowSpinBox.h"

#include "gui/TextCodec.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>
#include <vector>

namespace {

QWidget* MakeControl(const CFieldSpec& field, QWidget* parent) {
    QWidget* control = nullptr;
    switch (field.type) {
    case FieldType::Text:
        control = new QLineEdit(parent);
        break;
    case FieldType::Number:
        control = new CArrowSpinBox(parent);
        break;
    case FieldType::Check:
        control = new QCheckBox(FromUtf8(field.label), parent);
        break;
    case FieldType::Choice:
        // A row has room for a drop-down list, not for a column of radio buttons.
        control = new QComboBox(parent);
        break;
    }
    control->setObjectName(QString::fromLatin1(field.id));
    return control;
}

} // namespace

CFormView::CFormView(CFieldModel& model, CPrompter& prompter, QWidget* parent)
    : CModelView(model, prompter, parent) {
    auto* grid = new QGridLayout(this);
    grid->setColumnStretch(1, 1);

    std::vector<const CFieldSpec*> rows;
    for (const CFieldSpec& field : model.Fields())
        rows.push_back(&field);
    std::stable_sort(rows.begin(), rows.end(),
                     [](const CFieldSpec* a, const CFieldSpec* b) { return a->row < b->row; });

    auto addButton = [this](const CCommandSpec& command) {
        auto* button = new QPushButton(FromUtf8(command.label), this);
        button->setObjectName(QString::fromLatin1(command.id));
        connect(button, &QPushButton::clicked, this, [this, &command] {
            if (!PrepareCommand(command))
                return;
            m_model.RunCommand(command.id, m_prompter);
            Refresh();
        });
        m_buttons.emplace_back(&command, button);
        return button;
    };

    int gridRow = 0;
    for (const CFieldSpec* field : rows) {
        QWidget* control = MakeControl(*field, this);
        if (field->type == FieldType::Check) {
            grid->addWidget(control, gridRow, 0, 1, 2);
        } else {
            // Label above its field, as settings dialogs lay out long directory fields.
            auto* label = new QLabel(FromUtf8(field->label), this);
            label->setBuddy(control);
            grid->addWidget(label, gridRow++, 0, 1, 3);
            grid->addWidget(control, gridRow, 0, 1, 2);
        }
        for (const CCommandSpec& command : model.Commands())
            if ((command.places & kPlaceButton) && command.fieldId &&
                std::string_view(command.fieldId) == field->id)
                grid->addWidget(addButton(command), gridRow, 2);
        ++gridRow;
    }
    // Buttons that belong to no field stand in a row of their own, right-aligned.
    QHBoxLayout* others = nullptr;
    for (const CCommandSpec& command : model.Commands()) {
        if (command.fieldId || !(command.places & kPlaceButton))
            continue;
        if (!others) {
            others = new QHBoxLayout;
            others->addStretch(1);
            grid->addLayout(others, gridRow++, 0, 1, 3);
        }
        others->addWidget(addButton(command));
    }
    grid->setRowStretch(gridRow, 1);

    Bind(*this);
    Refresh();
}

QPushButton* CFormView::CommandButton(std::string_view id) const {
    for (const auto& [command, button] : m_buttons)
        if (id == command->id)
            return button;
    return nullptr;
}

void CFormView::Refresh() {
    m_binder->ModelToControls();
    ShowStates();
}

void CFormView::ShowStates() {
    m_binder->ShowStates();
    for (const auto& [command, button] : m_buttons) {
        button->setEnabled(m_model.IsEnabled(command->id));
        button->setVisible(m_model.IsVisible(command->id));
    }
}
