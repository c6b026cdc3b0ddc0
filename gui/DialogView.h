// A dialog model in a window of its own: its form, then OK, Abbrechen and, when the dialog has
// help, Hilfe, which F1 asks for as well. A group of the form that the model hides folds away: the
// window becomes shorter by the group's height, and longer by as much when the group is shown
// again; a dialog that opens with a group hidden opens that much shorter than its full height.
#pragma once

#include "pages/FieldModel.h"

#include <QDialog>

#include <map>

class CModelView;
class QDialogButtonBox;

class CDialogView : public QDialog {
    Q_OBJECT
public:
    CDialogView(CDialogModel& model, CPrompter& prompter, QWidget* owner = nullptr);

    CModelView* view() const { return m_view; }
    QDialogButtonBox* buttons() const { return m_buttons; }

private:
    void RequestHelp();
    void ShowGroup(QWidget* group, bool shown);
    int FoldHeight(QWidget& group) const;

    CDialogModel& m_model;
    CPrompter& m_prompter;
    CModelView* m_view;
    QDialogButtonBox* m_buttons;
    std::map<QWidget*, int> m_folded; // the height each folded group took
};
