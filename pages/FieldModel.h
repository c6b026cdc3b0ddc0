// What every page and dialog model is made of: one table of fields that both the model and its
// view read, the values of those fields, and the checks the data exchange applies. A model
// talks to the user only through CPrompter, so a test drives it completely without a window.
//
// Texts: labels and captions in the tables are the program's own German texts, written in
// UTF-8 in the source and only ever shown; values are data of the suite's files and are held in
// its 8-bit code page (Windows-1252), like every text handed to the prompter.
#pragma once

#include "app/Prompter.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CRowModel;
class CTreeModel;

enum class FieldType {
    Text,   // a text field
    Number, // a whole number, usually with arrows
    Check,  // a check box: "0" or "1"
    Choice, // one of fixed values: radio buttons or a fixed drop-down list
};

// Ways a field's control behaves beyond its type.
enum FieldFlag : unsigned {
    kFieldMasked = 1,    // Text: the characters are not shown (a password)
    kFieldMultiLine = 2, // Text: several lines, line breaks stored as CR LF
    kFieldReadOnly = 4,  // shown, never taken: the exchange leaves the value as the model set it
    kFieldImmediate = 8, // Text in a line edit: every edit reaches the model as typed, so that
                         // an enable state can follow it; the exchange still checks it
    // Choice: nothing chosen (an empty value) is accepted, for a list that may offer nothing or
    // that opens without a choice.
    kFieldMayBeEmpty = 16,
    // Text in a line edit: a search over what the model shows, not a setting. Every change
    // reaches the model as typed; it never makes a page applicable and the exchange never takes
    // it. The view shows the label as the hint inside the empty field, Escape clears it, and
    // Ctrl+F puts the focus in the model's first search.
    kFieldSearch = 32,
};

// One value of a choice field: what the field holds, and what the user sees.
struct CChoice {
    const char* value;
    const char* label; // UTF-8
};

// One field: the model's value, the control that shows it and the limits the data exchange
// applies. Tables are written with designated initialisers, so that a reader sees which limit
// is which.
struct CFieldSpec {
    const char* id; // unique within the model; the view names the control after it
    FieldType type;
    const char* label; // UTF-8, "&" marks the mnemonic
    int row = 0;       // position on screen for CFormView, top to bottom (the table is in
                       // exchange order)
    int maxLength = 0; // Text: most characters, 0 for no limit
    long minimum = 0;  // Number: accepted range
    long maximum = 0;
    long arrowMinimum = 0; // Number: range of the arrows, which may differ from the accepted one
    long arrowMaximum = 0;
    unsigned flags = 0;              // FieldFlag
    std::span<const CChoice> choices = {}; // Choice: the values, in the order shown
    // A field that stands for one configuration key: its key and the value used when the key is
    // absent, so that plain fields load and apply from the table alone.
    const char* key = nullptr;
    const char* defaultValue = nullptr;
    // The name the same setting had before, read when key is absent (and then its value or
    // defaultValue); whether it is removed on apply is the model's decision.
    const char* olderKey = nullptr;
};

// A field's label as a message names it: without its mnemonic "&" and its trailing colon, in
// the code page of the texts handed to the prompter.
std::string LabelText(const CFieldSpec& field);

// Where a command appears. One command may appear in several places; each place runs the same
// handler and shows the same enabled state.
enum CommandPlace : unsigned {
    kPlaceButton = 1,  // a push button of the form (beside its field, or of its own)
    kPlaceToolbar = 2, // the page's toolbar, in the order of ToolbarLayout
    kPlaceMenu = 4,    // the context menu of the list named by listId, in table order
    // The Delete key on a selected row of the list named by listId: the command that deletes
    // that row, so the key asks the same question as the button or menu item.
    kPlaceDeleteKey = 8,
};

// A command of a model: a button, a toolbar button, a menu item, a list's double click.
struct CCommandSpec {
    const char* id;
    const char* label;             // UTF-8, "&" marks the mnemonic
    const char* fieldId = nullptr; // the field a button stands beside; null for one of its own
    unsigned places = kPlaceButton;
    const char* listId = nullptr; // kPlaceMenu and doubleClick: the list they belong to
    bool doubleClick = false;     // a double click on a row of listId runs it
    const char* icon = nullptr;   // toolbar: the icon's name
    // The toolbar button's tip, when the label alone would not say what the command acts on
    // (a menu's "&Löschen" is clear below the menu's title, a toolbar's is not). UTF-8.
    const char* toolTip = nullptr;
    // The view takes (and checks) the fields before the command runs. False: it hands over the
    // controls' texts unchecked, and the command takes what it needs itself with TakeField, at
    // the point where a refusal belongs (after a question that comes first, say).
    bool takesFields = true;
};

// A list or tree of a model, shown by a list or tree view named by its id.
struct CListSpec {
    enum class Kind { List, Tree };
    const char* id;
    Kind kind;
    const char* menuTitle = nullptr; // the title of its context menu, if it has one (UTF-8)
};

// A group of the form (a frame, or an area that folds away): one id whose enable and visible
// states its children follow.
struct CGroupSpec {
    const char* id;
};

class CFieldModel {
public:
    virtual ~CFieldModel() = default;

    virtual std::span<const CFieldSpec> Fields() const = 0;
    virtual std::span<const CCommandSpec> Commands() const { return {}; }
    virtual std::span<const CListSpec> Lists() const { return {}; }
    virtual std::span<const CGroupSpec> Groups() const { return {}; }
    // The toolbar: command ids in order, null for a separator. Empty: no toolbar.
    virtual std::span<const char* const> ToolbarLayout() const { return {}; }
    // The Qt Designer form that lays the model out (gui/forms/<name>.ui); null for the rows
    // of label, field and button that CFormView builds from the field table.
    virtual const char* FormName() const { return nullptr; }
    // The rows of a list or the nodes of a tree named in Lists(); null for another id.
    virtual CRowModel* RowsOf(std::string_view /*listId*/) { return nullptr; }
    virtual CTreeModel* TreeOf(std::string_view /*listId*/) { return nullptr; }
    // What an editable drop-down of a text field offers, in the suite's 8-bit text and in the
    // order shown; the user may still type anything. Asked whenever the values are shown.
    virtual std::vector<std::string> Suggestions(std::string_view /*fieldId*/) const { return {}; }

    // A command was given (a button, a toolbar button, a menu item, a double click). The view
    // has taken the fields from the controls before, and shows them again afterwards.
    virtual void OnCommand(std::string_view /*commandId*/, CPrompter& /*prompter*/) {}
    // The user changed the text of a field in its control; the value is not taken yet. The view
    // reports only the user's own edits, not its redraws from the model.
    virtual void OnFieldEdited(std::string_view /*id*/) {}
    // The selection of a list or tree changed (the row or node model holds it).
    virtual void OnSelectionChanged(std::string_view /*listId*/, CPrompter& /*prompter*/) {}
    // Called now and then (about twice a second) while the model is shown and nothing modal is
    // open over it: a chance to notice what changed outside the program. True when it changed
    // its values or rows and the view must redraw.
    virtual bool Poll(CPrompter& /*prompter*/) { return false; }
    // Derives the enable and visible states of fields, groups and commands from the current
    // values and selections. The framework calls it after every change: an edit, a command, a
    // selection, a take. Never decided in a view.
    virtual void UpdateStates() {}

    // What a view calls, so that UpdateStates follows every change. Check boxes and choices
    // reach the model as soon as they change (they cannot be refused): value is then the new
    // value; for texts and numbers it is empty, and the exchange takes them later.
    void FieldChanged(std::string_view id, std::optional<std::string> value = std::nullopt);
    void RunCommand(std::string_view commandId, CPrompter& prompter);
    void SelectionChanged(std::string_view listId, CPrompter& prompter);

    const CCommandSpec* FindCommand(std::string_view id) const;
    const CListSpec* FindList(std::string_view id) const;

    const CFieldSpec* FindField(std::string_view id) const;
    const std::string& Value(std::string_view id) const;
    long Number(std::string_view id) const;
    // Sets a value as the model sees fit; the checks of the data exchange do not apply.
    void SetValue(std::string_view id, std::string value);
    void SetNumber(std::string_view id, long value);

    // Fields, groups, lists and commands that are switched off or hidden, by id.
    bool IsEnabled(std::string_view id) const { return m_disabled.count(std::string(id)) == 0; }
    void SetEnabled(std::string_view id, bool enabled);
    bool IsVisible(std::string_view id) const { return m_hidden.count(std::string(id)) == 0; }
    void SetVisible(std::string_view id, bool visible);

    // Checks one value against its field's limits; the German refusal, or nothing when the
    // value is accepted. A text holds no control characters, except that a multi-line one
    // keeps its line breaks and tabs.
    static std::optional<std::string> Refusal(const CFieldSpec& field, std::string_view value);

    // The data exchange from the controls: read gives the text a control holds. Every value is
    // checked in table order; the first refused one is shown through the prompter, nothing
    // after it is taken, and its id is returned so the view can put the focus there.
    std::optional<std::string> TakeFields(const std::function<std::string(const CFieldSpec&)>& read,
                                          CPrompter& prompter);
    // Takes one value as the exchange does: checked, a number trimmed and normalised; false
    // after showing the refusal.
    bool TakeField(const CFieldSpec& field, std::string value, CPrompter& prompter);

    // Counts changes of values and of enable and visible states, so a view knows when to
    // redraw.
    unsigned Revision() const { return m_revision; }

protected:
    // Values by field id; a field not set yet reads as empty (Number gives 0).
    std::map<std::string, std::string, std::less<>> m_values;
    std::set<std::string> m_disabled;
    std::set<std::string> m_hidden;
    unsigned m_revision = 0;
};

// A tab of the property sheet.
class CPageModel : public CFieldModel {
public:
    virtual const char* Caption() const = 0; // UTF-8
    // The resource number of the page's help (help::resource); 0 for the sheet's own.
    virtual unsigned HelpContext() const { return 0; }

    // The page is shown for the first time: checks that warn the user run here.
    virtual void OnFirstShow(CPrompter& /*prompter*/) {}
    // OK or Apply for a page that has been shown: write the fields into the configuration.
    virtual bool OnApply(CPrompter& /*prompter*/) { return true; }
    // The part of OnApply that writes the fields into the set in memory, without a question
    // and without writing a file, so that a preview shows what OK would save. False after the
    // message when a value is refused, as OnApply refuses it. The preview stages every shown
    // page, so staging must be harmless to repeat: OK stages again as part of OnApply.
    virtual bool OnStage(CPrompter& /*prompter*/) { return true; }

    // Any edit of the user makes the page applicable, except typing in a search.
    void OnFieldEdited(std::string_view id) override;

    // Brings into view where the page shows key of file (a file of the set, or a list file by
    // its name; an empty key stands for the file as a whole), a row selected where the key is
    // one, and names the control the focus goes to: a field, list or button id. Nothing when
    // the page does not show it. A finding of the check leads the user there.
    virtual std::optional<std::string> ShowKey(std::string_view /*file*/, std::string_view /*key*/,
                                               CPrompter& /*prompter*/) {
        return std::nullopt;
    }

    // Whether the page has changes to apply (enables the sheet's apply button).
    bool IsModified() const { return m_modified; }
    void SetModified(bool modified = true);

    // What was written cannot be taken back: the sheet disables Cancel and relabels OK.
    void LockCancel();
    void SetLockCancelHandler(std::function<void()> handler) { m_lockCancel = std::move(handler); }
    void SetModifiedHandler(std::function<void(bool)> handler) {
        m_onModified = std::move(handler);
    }
    // Called whenever the page has changed the set in memory at once, without an apply (the
    // domains page's commands): what watches the set, the sheet's check, looks again.
    void SetSetChangedHandler(std::function<void()> handler) { m_onSetChanged = std::move(handler); }

protected:
    // The id of the field that stores key (or once stored it under its older name), or whose
    // id is key, in any letter case; null when none does.
    const char* FieldOfKey(std::string_view key) const;
    void NotifySetChanged() {
        if (m_onSetChanged)
            m_onSetChanged();
    }

private:
    bool m_modified = false;
    std::function<void()> m_lockCancel;
    std::function<void(bool)> m_onModified;
    std::function<void()> m_onSetChanged;
};

// A modal dialog.
class CDialogModel : public CFieldModel {
public:
    virtual const char* Caption() const = 0; // UTF-8
    // The resource number of the dialog's help (help::resource); 0: the dialog has no help.
    virtual unsigned HelpContext() const { return 0; }
    // The dialog is about to be shown, before its view reads the fields: lists whose filling
    // may have to tell the user something (a store that cannot be opened) are filled here.
    virtual void OnOpen(CPrompter& /*prompter*/) {}
    // OK was pressed and the fields were taken; false keeps the dialog open. It may be asked
    // twice for one OK (see RunDialogAccepted), so what it writes must come out the same.
    virtual bool OnOk(CPrompter& /*prompter*/) { return true; }
    // A dialog that only shows something: one "Schließen" button instead of OK and Abbrechen,
    // and closing it is Abbrechen.
    virtual bool CloseOnly() const { return false; }

    // Whether a command ended the dialog as OK does (see EndWithOk).
    bool EndedWithOk() const { return m_endedWithOk; }
    // Who closes the window when a command ends the dialog: the view that shows it.
    void SetEndHandler(std::function<void()> handler) { m_onEnd = std::move(handler); }

    // The field the last refusal of OnOk was about, once: the view puts the focus there, so
    // that the user corrects what was typed instead of looking for it.
    std::optional<std::string> TakeRefusedField() { return std::exchange(m_refusedField, {}); }

protected:
    // A refusal of OnOk: shows the message (a text, or a string-table number), notes field for
    // the focus, and gives false.
    bool RefuseField(CPrompter& prompter, const char* field, std::string_view text);
    bool RefuseField(CPrompter& prompter, const char* field, unsigned message);
    // A command that completes the dialog (a row picked with a double click): the window
    // closes as with OK, and RunDialog reports OK.
    void EndWithOk();

private:
    std::optional<std::string> m_refusedField;
    bool m_endedWithOk = false;
    std::function<void()> m_onEnd;
};

// Runs the dialog until the user cancels or its OnOk accepts the values. The Qt view asks OnOk
// itself before it ends with OK, so asking again finds nothing to refuse; a prompter that does
// not ask (the scripted user) is held to the same rules this way.
bool RunDialogAccepted(CPrompter& prompter, CDialogModel& dialog);
