// The view of a model laid out by a Qt Designer form. The form's controls are named after the
// model's ids (see CFieldBinder for fields):
//   a list or tree        a QTreeView named by the list's id, fed by CRowItemModel or
//                         CTreeItemModel; a list is drawn in report style
//   a group               any widget (a QGroupBox, a plain QWidget) named by the group's id;
//                         its children follow its enable and visible states
//   a button command      a QPushButton named by the command's id
// Commands for the toolbar and the context menus are QActions made here from the command table:
// the toolbar (in the order of ToolbarLayout) stands above the form, each list with menu
// commands has its context menu (also on Shift+F10), a list's double click runs its doubleClick
// command, and the Delete key on a selected row runs the command that deletes it.
//
// The view only forwards: an edit to FieldChanged (through the binder), a command to RunCommand
// after taking the fields, a selection to the row or tree model and SelectionChanged. After
// each it draws the model's states again (after a command also the values), and fetches the
// rows of a list whose model has replaced them.
#pragma once

#include "gui/FormRegistry.h"
#include "gui/ModelView.h"

#include <string_view>
#include <vector>

class CRowItemModel;
class CTreeItemModel;
class QAction;
class QMenu;
class QPushButton;
class QToolBar;
class QTreeView;

class CDesignedView : public CModelView {
    Q_OBJECT
public:
    CDesignedView(CFieldModel& model, CPrompter& prompter, FormSetup setup,
                  QWidget* parent = nullptr);

    QWidget* form() const { return m_form; }
    QToolBar* toolBar() const { return m_toolBar; }
    QAction* Action(std::string_view commandId) const;
    QMenu* ContextMenu(std::string_view listId) const;
    QTreeView* ListView(std::string_view listId) const;

    void Refresh() override;
    void ShowStates() override;
    std::vector<QWidget*> Groups() const override;

    // What a button, toolbar button, menu item or double click does.
    void RunCommand(std::string_view commandId);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct List {
        const CListSpec* declared;
        QTreeView* view;
        CRowItemModel* rows = nullptr;
        CTreeItemModel* tree = nullptr;
        QMenu* menu = nullptr;
        const char* deleteCommand = nullptr; // what the Delete key on a selected row runs
    };
    void OpenContextMenu(const List& list);
    void BindList(const CListSpec& declared);
    void OnSelection(List& list);
    // Fetches the rows of lists whose models replaced them and shows the model's selection.
    void SyncLists();
    void ShowOpenNodes(const List& list);

    QWidget* m_form;
    QToolBar* m_toolBar = nullptr;
    std::vector<List> m_lists;
    std::vector<std::pair<const CGroupSpec*, QWidget*>> m_groups;
    std::vector<std::pair<const CCommandSpec*, QPushButton*>> m_buttons;
    std::vector<std::pair<const CCommandSpec*, QAction*>> m_actions;
    bool m_syncing = false; // the view is selecting what the model holds: nothing to forward
};
