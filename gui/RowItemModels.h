// The item models through which Qt's views draw the pages' row and tree models. Nothing is
// copied: Qt asks for the cells it draws, and only those are converted from the 8-bit text.
// When the page model has replaced its rows (its revision moved on), Sync resets the adapter.
#pragma once

#include "pages/RowModel.h"

#include <QAbstractItemModel>
#include <QIcon>

#include <cstdint>
#include <span>
#include <vector>

class QTreeView;

// The icon resource ":/icons/<name>.svg".
QIcon ResourceIcon(const char* name);

class CRowItemModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit CRowItemModel(CRowModel& rows, QObject* parent = nullptr);

    CRowModel& rows() { return m_rows; }
    // Resets the adapter when the rows were replaced; true then.
    bool Sync();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    CRowModel& m_rows;
    std::uint64_t m_revision;
    std::vector<QIcon> m_icons;
};

class CTreeItemModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit CTreeItemModel(CTreeModel& tree, QObject* parent = nullptr);

    CTreeModel& tree() { return m_tree; }
    bool Sync();
    QModelIndex IndexOf(CTreeModel::NodeId node) const;
    static CTreeModel::NodeId NodeOf(const QModelIndex& index);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    CTreeModel& m_tree;
    std::uint64_t m_revision;
    std::vector<QIcon> m_icons;
};

// Gives every column its share of the view's client width whenever the view is shown or
// resized (a share of 0: what the others leave).
class CColumnWidthRule : public QObject {
    Q_OBJECT
public:
    CColumnWidthRule(QTreeView& view, std::span<const CColumnSpec> columns);
    void Apply();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTreeView& m_view;
    std::span<const CColumnSpec> m_columns;
};
