#include "gui/FieldBinder.h"

#include "gui/ArrowSpinBox.h"

#include "gui/TextCodec.h"
#include "pages/FieldModel.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTextEdit>

#include <algorithm>
#include <climits>
#include <set>

using Binding = CFieldBinder::Binding;
using Report = std::function<void(std::optional<std::string>)>;

// How one class of control shows a field: whether it fits the field's type, how it takes the
// table's limits, how it shows and gives a value, and how it tells of the user's change.
struct CControlKind {
    bool (*fits)(const CFieldSpec& field, QWidget* control);
    void (*limit)(const Binding& binding);
    void (*write)(const Binding& binding, const std::string& value);
    std::string (*read)(const Binding& binding);
    void (*notify)(const Binding& binding, Report report);
    bool ownsLabel;      // the control shows the field's label itself (check box, radio button)
    bool hasSuggestions; // an editable drop-down, filled from the suggestion source
};

namespace {

template <class T> T* As(const Binding& binding) {
    return static_cast<T*>(binding.controls.front());
}

// A line edit stops the typing at its length limit without a word (a 250-character domain
// became its first 64) and cuts a text set by the program, a stored value, to it. So a line
// edit has no limit of its own: what is typed or stored is shown whole, and the exchange refuses
// a text longer than the table allows, naming the limit.
void RemoveLengthLimit(QLineEdit& edit) {
    edit.setMaxLength(INT_MAX);
}

// A search field clears on Escape while it holds text; an empty one leaves Escape to the
// window (the sheet's Abbrechen).
class CEscapeClears : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* edit = qobject_cast<QLineEdit*>(watched);
        if (edit && event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && !edit->text().isEmpty()) {
            edit->clear();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

// What a search field hands the model: the code page text, or the substitute character in place
// of it when the code page cannot hold what was typed, so that nothing matches.
std::string SearchText(const QString& text) {
    return ToAnsiExact(text).value_or(std::string(1, '\x1A'));
}

const CControlKind kLineEdit{
    .fits =
        [](const CFieldSpec& field, QWidget* control) {
            return qobject_cast<QLineEdit*>(control) &&
                   (field.type == FieldType::Text || field.type == FieldType::Number);
        },
    .limit =
        [](const Binding& b) {
            auto* edit = As<QLineEdit>(b);
            RemoveLengthLimit(*edit);
            if (b.field->flags & kFieldMasked)
                edit->setEchoMode(QLineEdit::Password);
            if (b.field->flags & kFieldSearch) {
                // The label is the hint inside the empty field; a search needs no label beside.
                edit->setPlaceholderText(FromUtf8(b.field->label));
                edit->setClearButtonEnabled(true);
                edit->installEventFilter(new CEscapeClears(edit));
            }
            const bool readOnly = (b.field->flags & kFieldReadOnly) != 0;
            edit->setReadOnly(readOnly);
            if (readOnly) {
                // A field that cannot be typed in should not look as if it could.
                QPalette palette = edit->palette();
                palette.setColor(QPalette::Base, palette.color(QPalette::Window));
                edit->setPalette(palette);
            }
        },
    .write = [](const Binding& b,
                const std::string& value) { As<QLineEdit>(b)->setText(FromAnsi(value)); },
    .read = [](const Binding& b) { return ToAnsi(As<QLineEdit>(b)->text()); },
    .notify =
        [](const Binding& b, Report report) {
            // textEdited: the user's typing only, not the redraws from the model.
            auto* edit = As<QLineEdit>(b);
            if (b.field->flags & kFieldSearch) {
                // Every change, the clear button's and Escape's included, narrows at once.
                QObject::connect(edit, &QLineEdit::textChanged, edit,
                                 [report](const QString& text) { report(SearchText(text)); });
                return;
            }
            const bool immediate = (b.field->flags & kFieldImmediate) != 0;
            QObject::connect(edit, &QLineEdit::textEdited, edit, [report, edit, immediate] {
                report(immediate ? std::optional<std::string>(ToAnsi(edit->text())) : std::nullopt);
            });
        },
    .ownsLabel = false,
    .hasSuggestions = false,
};

// A line the model writes and nobody types in: a label named after a read-only text field.
const CControlKind kLabel{
    .fits =
        [](const CFieldSpec& field, QWidget* control) {
            return qobject_cast<QLabel*>(control) && field.type == FieldType::Text &&
                   (field.flags & kFieldReadOnly);
        },
    .limit = [](const Binding&) {},
    .write = [](const Binding& b,
                const std::string& value) { As<QLabel>(b)->setText(FromAnsi(value)); },
    .read = [](const Binding& b) { return ToAnsi(As<QLabel>(b)->text()); },
    .notify = [](const Binding&, Report) {},
    .ownsLabel = true,
    .hasSuggestions = false,
};

const CControlKind kPlainTextEdit{
    .fits =
        [](const CFieldSpec& field, QWidget* control) {
            return qobject_cast<QPlainTextEdit*>(control) && field.type == FieldType::Text;
        },
    .limit =
        [](const Binding& b) {
            As<QPlainTextEdit>(b)->setReadOnly((b.field->flags & kFieldReadOnly) != 0);
            // A text edit has no length limit of its own; the exchange refuses a longer text.
        },
    .write =
        [](const Binding& b, const std::string& value) {
            As<QPlainTextEdit>(b)->setPlainText(FromAnsiLines(value));
        },
    .read = [](const Binding& b) { return ToAnsiLines(As<QPlainTextEdit>(b)->toPlainText()); },
    .notify =
        [](const Binding& b, Report report) {
            QObject::connect(As<QPlainTextEdit>(b), &QPlainTextEdit::textChanged,
                             As<QPlainTextEdit>(b), [report] { report(std::nullopt); });
        },
    .ownsLabel = false,
    .hasSuggestions = false,
};

const CControlKind kSpinBox{
    .fits =
        [](const CFieldSpec& field, QWidget* control) {
            // Only the spin box that keeps a typed number whole (see CArrowSpinBox): a plain
            // one cuts what lies beyond its range.
            return qobject_cast<CArrowSpinBox*>(control) && field.type == FieldType::Number;
        },
    .limit =
        [](const Binding& b) {
            // The arrows step within their own range; typing reaches any number, and the
            // model's check refuses what lies outside the accepted range.
            const CFieldSpec& f = *b.field;
            auto* box = As<CArrowSpinBox>(b);
            box->setRange(static_cast<int>(std::min(f.minimum, f.arrowMinimum)),
                          static_cast<int>(std::max(f.maximum, f.arrowMaximum)));
            box->SetArrowRange(static_cast<int>(f.arrowMinimum), static_cast<int>(f.arrowMaximum));
        },
    .write =
        [](const Binding& b, const std::string& value) {
            // A stored value beyond the accepted range is shown as it is, not cut to the range:
            // the exchange then refuses it until the user corrects it. The range grows to it,
            // so the arrows lead back from there.
            auto* box = As<CArrowSpinBox>(b);
            const long number =
                std::clamp<long>(std::strtol(value.c_str(), nullptr, 10), INT_MIN, INT_MAX);
            if (number > box->maximum())
                box->setMaximum(static_cast<int>(number));
            if (number < box->minimum())
                box->setMinimum(static_cast<int>(number));
            // A number is shown as stored, even one too long for the spin box's value; what is
            // no number at all (a field not set yet) as the number it starts with, or 0.
            const QString text = FromAnsi(value);
            box->ShowText(CArrowSpinBox::IsWholeNumber(text) ? text : QString::number(number));
        },
    .read = [](const Binding& b) { return ToAnsi(As<QSpinBox>(b)->cleanText()); },
    .notify =
        [](const Binding& b, Report report) {
            // The text, not the value: typing on beyond the range leaves the value as it is.
            QObject::connect(As<QSpinBox>(b), &QSpinBox::textChanged, As<QSpinBox>(b),
                             [report] { report(std::nullopt); });
        },
    .ownsLabel = false,
    .hasSuggestions = false,
};

const CControlKind kCheckBox{
    .fits =
        [](const CFieldSpec& field, QWidget* control) {
            return qobject_cast<QCheckBox*>(control) && field.type == FieldType::Check;
        },
    .limit =
        [](const Binding& b) {
            if (b.field->label && *b.field->label)
                As<QCheckBox>(b)->setText(FromUtf8(b.field->label));
        },
    .write =
        [](const Binding& b, const std::string& value) {
            As<QCheckBox>(b)->setChecked(std::strtol(value.c_str(), nullptr, 10) != 0);
        },
    .read = [](const Binding& b) { return std::string(As<QCheckBox>(b)->isChecked() ? "1" : "0"); },
    .notify =
        [](const Binding& b, Report report) {
            QObject::connect(As<QCheckBox>(b), &QCheckBox::toggled, As<QCheckBox>(b),
                             [report](bool on) { report(std::string(on ? "1" : "0")); });
        },
    .ownsLabel = true,
    .hasSuggestions = false,
};

// A choice as a fixed drop-down list: the choices' labels in table order.
const CControlKind kChoiceCombo{
    .fits =
        [](const CFieldSpec& field, QWidget* control) {
            return qobject_cast<QComboBox*>(control) && field.type == FieldType::Choice;
        },
    .limit =
        [](const Binding& b) {
            auto* combo = As<QComboBox>(b);
            combo->setEditable(false);
            combo->clear();
            for (const CChoice& choice : b.field->choices)
                combo->addItem(FromUtf8(choice.label));
        },
    .write =
        [](const Binding& b, const std::string& value) {
            int index = -1;
            for (std::size_t i = 0; i < b.field->choices.size(); ++i)
                if (value == b.field->choices[i].value)
                    index = static_cast<int>(i);
            As<QComboBox>(b)->setCurrentIndex(index);
        },
    .read =
        [](const Binding& b) {
            const int index = As<QComboBox>(b)->currentIndex();
            return index < 0 ? std::string()
                             : std::string(b.field->choices[static_cast<std::size_t>(index)].value);
        },
    .notify =
        [](const Binding& b, Report report) {
            const CFieldSpec* field = b.field;
            // activated: the user's choice only.
            QObject::connect(
                As<QComboBox>(b), &QComboBox::activated, As<QComboBox>(b),
                [report, field](int index) {
                    if (index >= 0)
                        report(std::string(field->choices[static_cast<std::size_t>(index)].value));
                });
        },
    .ownsLabel = false,
    .hasSuggestions = false,
};

// A text with suggestions: the user may pick one or type anything.
const CControlKind kEditableCombo{
    .fits =
        [](const CFieldSpec& field, QWidget* control) {
            return qobject_cast<QComboBox*>(control) && field.type == FieldType::Text;
        },
    .limit =
        [](const Binding& b) {
            auto* combo = As<QComboBox>(b);
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            RemoveLengthLimit(*combo->lineEdit());
        },
    .write = [](const Binding& b,
                const std::string& value) { As<QComboBox>(b)->setEditText(FromAnsi(value)); },
    .read = [](const Binding& b) { return ToAnsi(As<QComboBox>(b)->currentText()); },
    .notify =
        [](const Binding& b, Report report) {
            QObject::connect(As<QComboBox>(b), &QComboBox::editTextChanged, As<QComboBox>(b),
                             [report] { report(std::nullopt); });
        },
    .ownsLabel = false,
    .hasSuggestions = true,
};

// A choice as radio buttons, one per value in table order (see RadioName).
const CControlKind kRadioGroup{
    .fits =
        [](const CFieldSpec& field, QWidget* control) {
            return qobject_cast<QRadioButton*>(control) && field.type == FieldType::Choice;
        },
    .limit =
        [](const Binding& b) {
            // Buttons in different frames are not exclusive by themselves.
            auto* group = new QButtonGroup(b.controls.front()->parent());
            for (std::size_t i = 0; i < b.controls.size(); ++i) {
                auto* radio = static_cast<QRadioButton*>(b.controls[i]);
                group->addButton(radio);
                radio->setText(FromUtf8(b.field->choices[i].label));
            }
        },
    .write =
        [](const Binding& b, const std::string& value) {
            auto* group = static_cast<QRadioButton*>(b.controls.front())->group();
            // No value of the table: none is shown as chosen.
            if (group)
                group->setExclusive(false);
            for (std::size_t i = 0; i < b.controls.size(); ++i)
                static_cast<QRadioButton*>(b.controls[i])
                    ->setChecked(value == b.field->choices[i].value);
            if (group)
                group->setExclusive(true);
        },
    .read =
        [](const Binding& b) {
            for (std::size_t i = 0; i < b.controls.size(); ++i)
                if (static_cast<QRadioButton*>(b.controls[i])->isChecked())
                    return std::string(b.field->choices[i].value);
            return std::string();
        },
    .notify =
        [](const Binding& b, Report report) {
            for (std::size_t i = 0; i < b.controls.size(); ++i) {
                auto* radio = static_cast<QRadioButton*>(b.controls[i]);
                const char* value = b.field->choices[i].value;
                QObject::connect(radio, &QRadioButton::toggled, radio, [report, value](bool on) {
                    if (on)
                        report(std::string(value));
                });
            }
        },
    .ownsLabel = true,
    .hasSuggestions = false,
};

const CControlKind* const kKinds[] = {&kLineEdit,    &kLabel,         &kPlainTextEdit,
                                      &kSpinBox,     &kCheckBox,      &kChoiceCombo,
                                      &kEditableCombo, &kRadioGroup};

const CControlKind* KindOf(const CFieldSpec& field, QWidget* control) {
    for (const CControlKind* kind : kKinds)
        if (kind->fits(field, control))
            return kind;
    return nullptr;
}

QList<QWidget*> Named(const QWidget& root, const QString& name) {
    return root.findChildren<QWidget*>(name);
}

// The controls of a field: the one named by its id, or a radio button per choice.
std::vector<QWidget*> ControlsOf(const CFieldSpec& field, const QWidget& root) {
    const auto named = Named(root, QString::fromLatin1(field.id));
    if (named.size() == 1)
        return {named.front()};
    if (!named.isEmpty() || field.type != FieldType::Choice || field.choices.empty())
        return {};
    std::vector<QWidget*> radios;
    for (const CChoice& choice : field.choices) {
        const auto found = Named(root, CFieldBinder::RadioName(field.id, choice.value));
        if (found.size() != 1)
            return {};
        radios.push_back(found.front());
    }
    return radios;
}

// Whether the view has hidden the widget itself (a widget not shown yet is not).
bool ExplicitlyHidden(const QWidget& widget) {
    return widget.testAttribute(Qt::WA_WState_ExplicitShowHide) && widget.isHidden();
}

} // namespace

bool CFieldBinder::IsShown(const QWidget& widget) {
    return !ExplicitlyHidden(widget);
}

bool CFieldBinder::ShowState(QWidget& widget, bool enabled, bool visible) {
    widget.setEnabled(enabled);
    if (visible != ExplicitlyHidden(widget))
        return false;
    widget.setVisible(visible);
    return true;
}

QString CFieldBinder::RadioName(const char* fieldId, const char* value) {
    return QString::fromLatin1(fieldId) + QLatin1Char('_') + QString::fromLatin1(value);
}

CFieldBinder::CFieldBinder(CFieldModel& model, QWidget& root) : m_model(model) {
    const auto labels = root.findChildren<QLabel*>();
    for (const CFieldSpec& field : model.Fields()) {
        std::vector<QWidget*> controls = ControlsOf(field, root);
        const CControlKind* kind = controls.empty() ? nullptr : KindOf(field, controls.front());
        Q_ASSERT_X(kind, "CFieldBinder", field.id);
        if (!kind)
            continue;
        Binding binding{&field, kind, std::move(controls), {}};
        // A label that names the control greys with it: a disabled field under a black label
        // reads as editable.
        for (QLabel* label : labels)
            if (std::find(binding.controls.begin(), binding.controls.end(), label->buddy()) !=
                binding.controls.end())
                binding.labels.push_back(label);
        if (!kind->ownsLabel && field.label && *field.label)
            for (QLabel* label : binding.labels)
                label->setText(FromUtf8(field.label));
        kind->limit(binding);
        kind->notify(binding, [this, &field](std::optional<std::string> value) {
            Report(field, std::move(value));
        });
        m_bindings.push_back(std::move(binding));
    }
}

CFieldBinder::~CFieldBinder() = default;

void CFieldBinder::Report(const CFieldSpec& field, std::optional<std::string> value) {
    if (m_loading)
        return;
    m_model.FieldChanged(field.id, std::move(value));
    if (m_onEdited)
        m_onEdited(field.id);
}

void CFieldBinder::SetEditedHandler(std::function<void(const char* id)> handler) {
    m_onEdited = std::move(handler);
}

QWidget* CFieldBinder::ControlOf(std::string_view id) const {
    for (const Binding& binding : m_bindings)
        if (id == binding.field->id)
            return binding.controls.front();
    return nullptr;
}

void CFieldBinder::ModelToControls() {
    m_loading = true;
    for (const Binding& binding : m_bindings) {
        if (binding.kind->hasSuggestions && m_suggestions) {
            auto* combo = static_cast<QComboBox*>(binding.controls.front());
            combo->clear();
            for (const std::string& suggestion : m_suggestions(*binding.field))
                combo->addItem(FromAnsi(suggestion));
        }
        binding.kind->write(binding, m_model.Value(binding.field->id));
    }
    m_loading = false;
    ShowStates();
}

void CFieldBinder::ShowStates() {
    m_loading = true;
    for (const Binding& binding : m_bindings) {
        // Nobody types in a read-only field: what the model wrote there while the user worked
        // elsewhere (a count, a summary) is shown at once.
        if (binding.field->flags & kFieldReadOnly)
            binding.kind->write(binding, m_model.Value(binding.field->id));
        const bool enabled = m_model.IsEnabled(binding.field->id);
        const bool visible = m_model.IsVisible(binding.field->id);
        for (QWidget* control : binding.controls)
            ShowState(*control, enabled, visible);
        for (QLabel* label : binding.labels)
            ShowState(*label, enabled, visible);
    }
    m_loading = false;
}

void CFieldBinder::FocusField(std::string_view id) {
    QWidget* control = ControlOf(id);
    if (!control)
        return;
    control->setFocus();
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        edit->selectAll();
    else if (auto* spin = qobject_cast<QSpinBox*>(control))
        spin->selectAll();
}

bool CFieldBinder::ControlsToModel(CPrompter& prompter) {
    const auto refused = m_model.TakeFields(
        [this](const CFieldSpec& field) {
            for (const Binding& binding : m_bindings)
                if (binding.field == &field)
                    return binding.kind->read(binding);
            return m_model.Value(field.id);
        },
        prompter);
    if (!refused)
        return true;
    FocusField(*refused);
    return false;
}

void CFieldBinder::HandOverControls() {
    // Check boxes and choices reached the model as they changed; the texts wait for a take.
    for (const Binding& binding : m_bindings)
        if (!(binding.field->flags & (kFieldReadOnly | kFieldSearch)) &&
            (binding.field->type == FieldType::Text || binding.field->type == FieldType::Number))
            m_model.SetValue(binding.field->id, binding.kind->read(binding));
}

namespace {

// Controls that hold a value or act: what a form names only for the model.
bool IsInput(const QWidget* widget) {
    return qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QLineEdit*>(widget) ||
           qobject_cast<const QPlainTextEdit*>(widget) || qobject_cast<const QTextEdit*>(widget) ||
           qobject_cast<const QAbstractSpinBox*>(widget) ||
           qobject_cast<const QComboBox*>(widget) || qobject_cast<const QAbstractItemView*>(widget);
}

// Containers the model may switch as a group: group boxes, and plain widgets and frames.
bool IsContainer(const QWidget* widget) {
    if (qobject_cast<const QGroupBox*>(widget))
        return true;
    const QMetaObject* meta = widget->metaObject();
    return meta == &QWidget::staticMetaObject || meta == &QFrame::staticMetaObject;
}

} // namespace

QStringList CFieldBinder::Mismatches(const CFieldModel& model, const QWidget& root) {
    QStringList faults;
    std::set<QString> ids;
    auto expectOne = [&](const QString& name, const char* what, auto fits) {
        ids.insert(name);
        const auto found = Named(root, name);
        if (found.size() != 1)
            faults << QStringLiteral("%1 \"%2\": %3 controls")
                          .arg(QLatin1String(what), name)
                          .arg(found.size());
        else if (!fits(found.front()))
            faults << QStringLiteral("%1 \"%2\": a %3 does not fit")
                          .arg(QLatin1String(what), name,
                               QLatin1String(found.front()->metaObject()->className()));
    };
    for (const CFieldSpec& field : model.Fields()) {
        const QString id = QString::fromLatin1(field.id);
        auto fitsField = [&field](QWidget* w) { return KindOf(field, w) != nullptr; };
        if (field.type == FieldType::Choice && Named(root, id).isEmpty() &&
            !field.choices.empty()) {
            for (const CChoice& choice : field.choices)
                expectOne(RadioName(field.id, choice.value), "choice",
                          [](QWidget* w) { return qobject_cast<QRadioButton*>(w) != nullptr; });
        } else {
            expectOne(id, "field", fitsField);
        }
    }
    for (const CListSpec& list : model.Lists())
        expectOne(QString::fromLatin1(list.id), "list",
                  [](QWidget* w) { return qobject_cast<QAbstractItemView*>(w) != nullptr; });
    for (const CGroupSpec& group : model.Groups())
        expectOne(QString::fromLatin1(group.id), "group", [](QWidget*) { return true; });
    for (const CCommandSpec& command : model.Commands())
        if (command.places & kPlaceButton)
            expectOne(QString::fromLatin1(command.id), "button",
                      [](QWidget* w) { return qobject_cast<QAbstractButton*>(w) != nullptr; });

    for (const QWidget* widget : root.findChildren<QWidget*>()) {
        const QString name = widget->objectName();
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_")) ||
            name.startsWith(QLatin1Char('_')) || !(IsInput(widget) || IsContainer(widget)))
            continue;
        // The parts of a control (a spin box's edit, a list's header) are the control's.
        bool part = false;
        for (const QWidget* up = widget->parentWidget(); up && up != &root; up = up->parentWidget())
            part = part || IsInput(up);
        if (!part && ids.count(name) == 0)
            faults << QStringLiteral("control \"%1\" (%2) stands for no id")
                          .arg(name, QLatin1String(widget->metaObject()->className()));
    }
    return faults;
}
