// Binds the controls of a view to the fields of a model, by the field table: each field's
// control is the child whose object name is the field's id. The binder applies the table's
// limits to the controls, shows the table's labels, and moves values both ways; the checks
// themselves are the model's. No control cuts a value: a text longer than the table allows or a
// number outside its range, typed or stored, is shown whole, and the exchange refuses it with
// the limit named until the user corrects it.
//
// Which control a field may have (one table of control kinds in FieldBinder.cpp):
//   Text    QLineEdit (kFieldMasked: shown as dots; kFieldReadOnly: not editable),
//           QPlainTextEdit (kFieldMultiLine: the model holds CR LF, the control LF),
//           an editable QComboBox (a text with suggestions, see SetSuggestionSource)
//   Number  CArrowSpinBox (its arrows keep within the arrows' range, any whole number may be
//           typed), or a QLineEdit
//   Check   QCheckBox ("0" or "1")
//   Choice  a QComboBox that cannot be edited (the choices' labels in table order), or one
//           QRadioButton per choice named "<fieldId>_<value>" (so a value must be usable in
//           an identifier: "smtp_0", "mode_relay"); no control is then named after the field.
// Check boxes and choices reach the model at once, model.FieldChanged(id, value); texts and
// numbers report only that they changed, model.FieldChanged(id), and the exchange takes them
// later with its checks and its focus on a refused control.
//
// A label whose buddy is a field's control shows the field's label and greys with it; a check
// box or radio button carries its label itself.
#pragma once

#include "pages/FieldModel.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QLabel;
struct CControlKind;

class CFieldBinder {
public:
    // Binds every field of the model's table; in a debug build it asserts that each field has
    // its control.
    CFieldBinder(CFieldModel& model, QWidget& root);
    ~CFieldBinder();

    // Fields to controls, with the model's enable and visible states; never fails.
    void ModelToControls();
    // Only the enable and visible states: what may change while the user is typing elsewhere.
    void ShowStates();
    // Controls to fields with the model's checks. On a refusal the prompter has shown it, the
    // focus is on the refused control, and the result is false.
    bool ControlsToModel(CPrompter& prompter);
    // Puts the focus on the control of field id, its text selected, as a refusal does.
    void FocusField(std::string_view id);
    // The controls' texts into the model unchecked, for a command that takes its fields itself
    // (CCommandSpec::takesFields).
    void HandOverControls();

    // Called with the field's id after the user changed a control and the model has been told
    // (FieldChanged): the view redraws the states then.
    void SetEditedHandler(std::function<void(const char* id)> handler);
    // The suggestions of a text field shown as an editable drop-down, in the model's 8-bit
    // text; asked whenever the values are shown.
    using SuggestionSource = std::function<std::vector<std::string>(const CFieldSpec& field)>;
    void SetSuggestionSource(SuggestionSource source) { m_suggestions = std::move(source); }

    // The control of a field (the first radio button of a radio group).
    QWidget* ControlOf(std::string_view id) const;

    // Shows a widget enabled or not, shown or hidden; true when it was shown and is hidden now
    // or the other way round. A widget that was merely never shown counts as shown.
    static bool ShowState(QWidget& widget, bool enabled, bool visible);
    // Whether a widget is meant to be shown (one never shown yet is).
    static bool IsShown(const QWidget& widget);

    // The object name of the radio button that stands for one value of a choice field.
    static QString RadioName(const char* fieldId, const char* value);

    // Checks a form against a model both ways: every field, list, group and button command of
    // the model has exactly one control of a fitting kind, and every named control of the form
    // (inputs, buttons, item views, group boxes and other named containers) stands for an id.
    // Labels, layouts, and containers named with a leading "_" (only there for the layout) are
    // not checked. Empty when the two agree; otherwise one line per fault.
    static QStringList Mismatches(const CFieldModel& model, const QWidget& root);

    struct Binding {
        const CFieldSpec* field;
        const CControlKind* kind;
        std::vector<QWidget*> controls; // one, or a radio button per choice
        std::vector<QLabel*> labels;    // the labels whose buddy is one of the controls
    };

private:
    void Report(const CFieldSpec& field, std::optional<std::string> value);

    CFieldModel& m_model;
    std::vector<Binding> m_bindings;
    bool m_loading = false; // ModelToControls is writing: no edit notifications
    std::function<void(const char* id)> m_onEdited;
    SuggestionSource m_suggestions;
};
