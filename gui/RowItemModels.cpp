#include "gui/RowItemModels.h"

#include "gui/TextCodec.h"

#include <QEvent>
#include <QHash>
#include <QHeaderView>
#include <QTreeView>

#include <climits>

QIcon ResourceIcon(const char* name) {
    // An icon is drawn from its file once and shared by every row that shows it.
    static QHash<QString, QIcon> cache;
    const QString key = QString::fromLatin1(name);
    auto it = cache.find(key);
    if (it == cache.end())
        it = cache.insert(key, QIcon(QStringLiteral(":/icons/%1.svg").arg(key)));
    return *it;
}

namespace {

std::vector<QIcon> IconsOf(std::span<const char* const> names) {
    std::vector<QIcon> icons;
    for (const char* name : names)
        icons.push_back(ResourceIcon(name));
    return icons;
}

QVariant IconAt(const std::vector<QIcon>& icons, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= icons.size())
        return {};
    return icons[static_cast<std::size_t>(index)];
}

} // namespace

CRowItemModel::CRowItemModel(CRowModel& rows, QObject* parent)
    : QAbstractTableModel(parent), m_rows(rows), m_revision(rows.Revision()),
      m_icons(IconsOf(rows.Icons())) {}

bool CRowItemModel::Sync() {
    if (m_rows.Revision() == m_revision)
        return false;
    beginResetModel();
    m_revision = m_rows.Revision();
    endResetModel();
    return true;
}

int CRowItemModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    const std::size_t count = m_rows.RowCount();
    return count > INT_MAX ? INT_MAX : static_cast<int>(count);
}

int CRowItemModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.Columns().size());
}

QVariant CRowItemModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    const auto row = static_cast<std::size_t>(index.row());
    // The tip shows the whole text of a cell the column cuts short (a finding, a trace step).
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return FromAnsi(m_rows.CellText(row, static_cast<std::size_t>(index.column())));
    if (role == Qt::DecorationRole && index.column() == 0)
        return IconAt(m_icons, m_rows.RowIcon(row));
    return {};
}

QVariant CRowItemModel::headerData(int section, Qt::Orientation orientation, int role) const {
    const auto columns = m_rows.Columns();
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        static_cast<std::size_t>(section) >= columns.size())
        return {};
    return FromUtf8(columns[static_cast<std::size_t>(section)].heading);
}

CTreeItemModel::CTreeItemModel(CTreeModel& tree, QObject* parent)
    : QAbstractItemModel(parent), m_tree(tree), m_revision(tree.Revision()),
      m_icons(IconsOf(tree.Icons())) {}

bool CTreeItemModel::Sync() {
    if (m_tree.Revision() == m_revision)
        return false;
    beginResetModel();
    m_revision = m_tree.Revision();
    endResetModel();
    return true;
}

// An index carries its node; the invisible top is the invalid index.
QModelIndex CTreeItemModel::IndexOf(CTreeModel::NodeId node) const {
    if (node == CTreeModel::kNone || node >= m_tree.NodeCount())
        return {};
    return createIndex(static_cast<int>(m_tree.IndexInParent(node)), 0, node);
}

CTreeModel::NodeId CTreeItemModel::NodeOf(const QModelIndex& index) {
    return index.isValid() ? static_cast<CTreeModel::NodeId>(index.internalId())
                           : CTreeModel::kNone;
}

QModelIndex CTreeItemModel::index(int row, int column, const QModelIndex& parent) const {
    const CTreeModel::NodeId up = NodeOf(parent);
    if (column != 0 || row < 0 || static_cast<std::size_t>(row) >= m_tree.ChildCount(up))
        return {};
    return createIndex(row, 0, m_tree.Child(up, static_cast<std::size_t>(row)));
}

QModelIndex CTreeItemModel::parent(const QModelIndex& index) const {
    if (!index.isValid())
        return {};
    return IndexOf(m_tree.Parent(NodeOf(index)));
}

int CTreeItemModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0)
        return 0;
    return static_cast<int>(m_tree.ChildCount(NodeOf(parent)));
}

int CTreeItemModel::columnCount(const QModelIndex&) const {
    return 1;
}

QVariant CTreeItemModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    const CTreeModel::NodeId node = NodeOf(index);
    if (role == Qt::DisplayRole)
        return FromAnsi(m_tree.Text(node));
    if (role == Qt::DecorationRole)
        return IconAt(m_icons, m_tree.Icon(node));
    return {};
}

CColumnWidthRule::CColumnWidthRule(QTreeView& view, std::span<const CColumnSpec> columns)
    : QObject(&view), m_view(view), m_columns(columns) {
    // The widths are the rule's, so the last column must not stretch over them.
    m_view.header()->setStretchLastSection(false);
    m_view.viewport()->installEventFilter(this);
}

void CColumnWidthRule::Apply() {
    const int client = m_view.viewport()->width();
    int given = 0;
    int rest = 0; // columns that share what is left
    for (const CColumnSpec& column : m_columns) {
        given += client * column.widthShare / 1000;
        rest += column.widthShare > 0 ? 0 : 1;
    }
    int left = client - given;
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        int width = client * m_columns[i].widthShare / 1000;
        if (m_columns[i].widthShare <= 0) {
            width = left / rest--;
            left -= width;
        }
        m_view.setColumnWidth(static_cast<int>(i), width);
    }
}

bool CColumnWidthRule::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize || event->type() == QEvent::Show)
        Apply();
    return QObject::eventFilter(watched, event);
}
