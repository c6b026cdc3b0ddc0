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

enum class FieldType {
    Text,   // a text field
    Number, // a whole number, usually with arrows
    Check,  // a check box: "0" or "1"
};

// One field: the model's value, the control that shows it and the limits the data exchange
// applies.
struct CFieldSpec {
    const char* id; // unique within the model; the view names the control after it
    FieldType type;
    const char* label; // UTF-8, "&" marks the mnemonic
    int row;           // position on screen, top to bottom (the table is in exchange order)
    int maxLength = 0; // Text: most characters, 0 for no limit
    long minimum = 0;  // Number: accepted range
    long maximum = 0;
    long arrowMinimum = 0; // Number: range of the arrows, which may differ from the accepted one
    long arrowMaximum = 0;
};

// A button of a model, usually beside one field ("Durchsuchen...").
struct CCommandSpec {
    const char* id;
    const char* label;   // UTF-8
    const char* fieldId; // the field it stands beside; null for a button of its own
};

class CFieldModel {
public:
    virtual ~CFieldModel() = default;

    virtual std::span<const CFieldSpec> Fields() const = 0;
    virtual std::span<const CCommandSpec> Commands() const { return {}; }
    // A button was pressed. The view has taken the fields from the controls before, and shows
    // them again afterwards.
    virtual void OnCommand(std::string_view /*commandId*/, CPrompter& /*prompter*/) {}
    // The user changed the text of a field in its control; the value is not taken yet. The view
    // reports only the user's own edits, not its redraws from the model.
    virtual void OnFieldEdited(std::string_view /*id*/) {}

    const CFieldSpec* FindField(std::string_view id) const;
    const std::string& Value(std::string_view id) const;
    long Number(std::string_view id) const;
    // Sets a value as the model sees fit; the checks of the data exchange do not apply.
    void SetValue(std::string_view id, std::string value);
    void SetNumber(std::string_view id, long value);

    // Fields and commands that are switched off; a disabled command is named by its id.
    bool IsEnabled(std::string_view id) const { return m_disabled.count(std::string(id)) == 0; }
    void SetEnabled(std::string_view id, bool enabled);

    // Checks one value against its field's limits; the German refusal, or nothing when the
    // value is accepted.
    static std::optional<std::string> Refusal(const CFieldSpec& field, std::string_view value);

    // The data exchange from the controls: read gives the text a control holds. Every value is
    // checked in table order; the first refused one is shown through the prompter, nothing
    // after it is taken, and its id is returned so the view can put the focus there.
    std::optional<std::string> TakeFields(const std::function<std::string(const CFieldSpec&)>& read,
                                          CPrompter& prompter);

    // Counts changes of values and enable states, so a view knows when to redraw.
    unsigned Revision() const { return m_revision; }

protected:
    // Values by field id; a field not set yet reads as empty (Number gives 0).
    std::map<std::string, std::string, std::less<>> m_values;
    std::set<std::string> m_disabled;
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

    // Any edit of the user makes the page applicable.
    void OnFieldEdited(std::string_view /*id*/) override { SetModified(); }

    // Whether the page has changes to apply (enables the sheet's apply button).
    bool IsModified() const { return m_modified; }
    void SetModified(bool modified = true);

    // What was written cannot be taken back: the sheet disables Cancel and relabels OK.
    void LockCancel();
    void SetLockCancelHandler(std::function<void()> handler) { m_lockCancel = std::move(handler); }
    void SetModifiedHandler(std::function<void(bool)> handler) {
        m_onModified = std::move(handler);
    }

private:
    bool m_modified = false;
    std::function<void()> m_lockCancel;
    std::function<void(bool)> m_onModified;
};

// A modal dialog.
class CDialogModel : public CFieldModel {
public:
    virtual const char* Caption() const = 0; // UTF-8
    // The resource number of the dialog's help (help::resource); 0: the dialog has no help.
    virtual unsigned HelpContext() const { return 0; }
    // OK was pressed and the fields were taken; false keeps the dialog open.
    virtual bool OnOk(CPrompter& /*prompter*/) { return true; }
};
