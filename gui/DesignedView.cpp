#include "gui/DesignedView.h"

#include "gui/RowItemModels.h"
#include "gui/TextCodec.h"

#include <QAction>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

// The command the Delete key runs on a selected row of list: the one its table places there.
const char* DeleteCommandOf(const CFieldModel& model, const CListSpec& list) {
    for (const CCommandSpec& command : model.Commands())
        if ((command.places & kPlaceDeleteKey) && command.listId &&
            list.id == std::string_view(command.listId))
            return command.id;
    return nullptr;
}

} // namespace

CDesignedView::CDesignedView(CFieldModel& model, CPrompter& prompter, FormSetup setup,
                             QWidget* parent)
    : CModelView(model, prompter, parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // One action per command, shared by the toolbar and the context menu, so that both show
    // the same enabled state.
    for (const CCommandSpec& command : model.Commands()) {
        if (!(command.places & (kPlaceToolbar | kPlaceMenu)))
            continue;
        auto* action = new QAction(FromUtf8(command.label), this);
        if (command.icon)
            action->setIcon(ResourceIcon(command.icon));
        if (command.toolTip)
            action->setToolTip(FromUtf8(command.toolTip));
        const char* id = command.id;
        connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
        m_actions.emplace_back(&command, action);
    }
    if (const auto order = model.ToolbarLayout(); !order.empty()) {
        m_toolBar = new QToolBar(this);
        m_toolBar->setIconSize(QSize(16, 16));
        m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
        m_toolBar->setMovable(false);
        m_toolBar->setFloatable(false);
        for (const char* id : order) {
            if (!id)
                m_toolBar->addSeparator();
            else if (QAction* action = Action(id))
                m_toolBar->addAction(action);
        }
        layout->addWidget(m_toolBar);
    }

    m_form = new QWidget(this);
    setup(m_form);
    layout->addWidget(m_form, 1);

    Bind(*m_form);
    for (const CListSpec& list : model.Lists())
        BindList(list);
    for (const CGroupSpec& group : model.Groups()) {
        const auto found = m_form->findChildren<QWidget*>(QString::fromLatin1(group.id));
        Q_ASSERT_X(found.size() == 1, "CDesignedView group", group.id);
        if (found.size() == 1)
            m_groups.emplace_back(&group, found.front());
    }
    for (const CCommandSpec& command : model.Commands()) {
        if (!(command.places & kPlaceButton))
            continue;
        const auto found = m_form->findChildren<QPushButton*>(QString::fromLatin1(command.id));
        Q_ASSERT_X(found.size() == 1, "CDesignedView button", command.id);
        if (found.size() != 1)
            continue;
        QPushButton* button = found.front();
        button->setText(FromUtf8(command.label));
        const char* id = command.id;
        connect(button, &QPushButton::clicked, this, [this, id] { RunCommand(id); });
        m_buttons.emplace_back(&command, button);
    }
    // Ctrl+F: the first search of the model, as in every program that searches.
    for (const CFieldSpec& field : model.Fields()) {
        if (!(field.flags & kFieldSearch))
            continue;
        auto* find = new QShortcut(QKeySequence::Find, this);
        find->setContext(Qt::WidgetWithChildrenShortcut);
        const char* id = field.id;
        connect(find, &QShortcut::activated, this, [this, id] { m_binder->FocusField(id); });
        break;
    }
    Refresh();
}

void CDesignedView::BindList(const CListSpec& declared) {
    const auto found = m_form->findChildren<QTreeView*>(QString::fromLatin1(declared.id));
    Q_ASSERT_X(found.size() == 1, "CDesignedView list", declared.id);
    if (found.size() != 1)
        return;
    QTreeView* view = found.front();
    List list{&declared, view};
    if (declared.kind == CListSpec::Kind::List) {
        CRowModel* rows = m_model.RowsOf(declared.id);
        Q_ASSERT_X(rows, "CDesignedView rows", declared.id);
        if (!rows)
            return;
        list.rows = new CRowItemModel(*rows, view);
        view->setModel(list.rows);
        // Report style: rows under column headings, nothing to fold.
        view->setRootIsDecorated(false);
        view->setItemsExpandable(false);
        view->setAllColumnsShowFocus(true);
        // A list box (one column without a heading) shows no header.
        bool headed = false;
        for (const CColumnSpec& column : rows->Columns())
            headed = headed || (column.heading && *column.heading);
        view->header()->setVisible(headed);
        view->header()->setSectionsMovable(false);
        new CColumnWidthRule(*view, rows->Columns());
    } else {
        CTreeModel* tree = m_model.TreeOf(declared.id);
        Q_ASSERT_X(tree, "CDesignedView tree", declared.id);
        if (!tree)
            return;
        list.tree = new CTreeItemModel(*tree, view);
        view->setModel(list.tree);
        view->setHeaderHidden(true);
        ShowOpenNodes(list);
    }
    // Every row is one line high: Qt then asks only for the rows it draws.
    view->setUniformRowHeights(true);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);

    for (const auto& [command, action] : m_actions) {
        if (!(command->places & kPlaceMenu) || !command->listId ||
            declared.id != std::string_view(command->listId))
            continue;
        if (!list.menu)
            list.menu =
                new QMenu(declared.menuTitle ? FromUtf8(declared.menuTitle) : QString(), view);
        list.menu->addAction(action);
    }
    if (QMenu* menu = list.menu) {
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, menu,
                [view, menu](const QPoint& at) { menu->popup(view->viewport()->mapToGlobal(at)); });
    }
    list.deleteCommand = DeleteCommandOf(m_model, declared);
    // The keys of a list: Delete and Shift+F10 (the menu key opens the menu by itself).
    if (list.menu || list.deleteCommand)
        view->installEventFilter(this);
    for (const CCommandSpec& command : m_model.Commands()) {
        if (!command.doubleClick || !command.listId ||
            declared.id != std::string_view(command.listId))
            continue;
        const char* id = command.id;
        connect(view, &QAbstractItemView::doubleClicked, this,
                [this, id](const QModelIndex& index) {
                    if (index.isValid())
                        RunCommand(id);
                });
    }
    const std::size_t at = m_lists.size();
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this, at] { OnSelection(m_lists[at]); });
    m_lists.push_back(list);
}

bool CDesignedView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return CModelView::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    for (const List& list : m_lists) {
        if (watched != list.view)
            continue;
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        if (key->key() == Qt::Key_Delete && modifiers == Qt::NoModifier && list.deleteCommand) {
            const bool selected = list.rows ? list.rows->rows().Selected().has_value()
                                            : list.tree->tree().Selected() != CTreeModel::kNone;
            if (selected && m_model.IsEnabled(list.deleteCommand) &&
                m_model.IsVisible(list.deleteCommand))
                RunCommand(list.deleteCommand);
            return true;
        }
        if (key->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier && list.menu) {
            OpenContextMenu(list);
            return true;
        }
    }
    return CModelView::eventFilter(watched, event);
}

void CDesignedView::OpenContextMenu(const List& list) {
    // Below the current row, as a click on it would have opened it; at the top of an empty list.
    const QModelIndex current = list.view->currentIndex();
    const QRect row = current.isValid() ? list.view->visualRect(current) : QRect();
    const QPoint at = row.isValid() ? row.bottomLeft() : QPoint(0, 0);
    list.menu->popup(list.view->viewport()->mapToGlobal(at));
}

QAction* CDesignedView::Action(std::string_view commandId) const {
    for (const auto& [command, action] : m_actions)
        if (commandId == command->id)
            return action;
    return nullptr;
}

QMenu* CDesignedView::ContextMenu(std::string_view listId) const {
    for (const List& list : m_lists)
        if (listId == list.declared->id)
            return list.menu;
    return nullptr;
}

QTreeView* CDesignedView::ListView(std::string_view listId) const {
    for (const List& list : m_lists)
        if (listId == list.declared->id)
            return list.view;
    return nullptr;
}

std::vector<QWidget*> CDesignedView::Groups() const {
    std::vector<QWidget*> groups;
    for (const auto& [declared, widget] : m_groups)
        groups.push_back(widget);
    return groups;
}

void CDesignedView::RunCommand(std::string_view commandId) {
    // The handler works on the values the user sees.
    const CCommandSpec* command = m_model.FindCommand(commandId);
    if (!(command ? PrepareCommand(*command) : TakeFields()))
        return;
    m_model.RunCommand(commandId, m_prompter);
    Refresh();
}

void CDesignedView::OnSelection(List& list) {
    if (m_syncing)
        return;
    const QModelIndexList selected = list.view->selectionModel()->selectedRows();
    if (list.rows) {
        list.rows->rows().Select(
            selected.isEmpty() ? std::nullopt
                               : std::optional(static_cast<std::size_t>(selected.front().row())));
    } else {
        list.tree->tree().Select(selected.isEmpty() ? CTreeModel::kNone
                                                    : CTreeItemModel::NodeOf(selected.front()));
    }
    m_model.SelectionChanged(list.declared->id, m_prompter);
    ShowStates();
}

void CDesignedView::Refresh() {
    m_binder->ModelToControls();
    ShowStates();
}

void CDesignedView::ShowStates() {
    m_binder->ShowStates();
    for (const auto& [declared, widget] : m_groups) {
        const bool visible = m_model.IsVisible(declared->id);
        widget->setEnabled(m_model.IsEnabled(declared->id));
        if (visible == CFieldBinder::IsShown(*widget))
            continue;
        if (m_showGroup)
            m_showGroup(widget, visible);
        else
            widget->setVisible(visible);
    }
    for (const auto& [command, button] : m_buttons)
        CFieldBinder::ShowState(*button, m_model.IsEnabled(command->id),
                                m_model.IsVisible(command->id));
    for (const auto& [command, action] : m_actions) {
        action->setEnabled(m_model.IsEnabled(command->id));
        action->setVisible(m_model.IsVisible(command->id));
    }
    for (const List& list : m_lists)
        CFieldBinder::ShowState(*list.view, m_model.IsEnabled(list.declared->id),
                                m_model.IsVisible(list.declared->id));
    SyncLists();
}

void CDesignedView::ShowOpenNodes(const List& list) {
    // A tree opens where the model says it is open, when it is first shown and after a rebuild.
    const CTreeModel& tree = list.tree->tree();
    for (CTreeModel::NodeId node = 0; node < tree.NodeCount(); ++node)
        if (tree.IsExpanded(node))
            list.view->expand(list.tree->IndexOf(node));
}

void CDesignedView::SyncLists() {
    m_syncing = true;
    for (const List& list : m_lists) {
        QItemSelectionModel* selection = list.view->selectionModel();
        QModelIndex wanted;
        if (list.rows) {
            list.rows->Sync();
            if (const auto row = list.rows->rows().Selected())
                wanted = list.rows->index(static_cast<int>(*row), 0);
        } else {
            if (list.tree->Sync())
                ShowOpenNodes(list);
            wanted = list.tree->IndexOf(list.tree->tree().Selected());
        }
        const QModelIndexList shown = selection->selectedRows();
        const QModelIndex current = shown.isEmpty() ? QModelIndex() : shown.front();
        if (wanted == current)
            continue;
        if (wanted.isValid()) {
            selection->setCurrentIndex(wanted, QItemSelectionModel::ClearAndSelect |
                                                   QItemSelectionModel::Rows);
            list.view->scrollTo(wanted);
        } else {
            selection->clearSelection();
        }
    }
    m_syncing = false;
}
