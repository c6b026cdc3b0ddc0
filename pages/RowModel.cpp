#include "pages/RowModel.h"

void CRowModel::Select(std::optional<std::size_t> row) {
    if (row && *row >= RowCount())
        row.reset();
    m_selected = row;
}

void CRowModel::Reset() {
    m_selected.reset();
    ++m_revision;
}

void CTreeModel::Clear() {
    m_nodes.clear();
    m_top.clear();
    m_selected = kNone;
    ++m_revision;
}

CTreeModel::NodeId CTreeModel::Add(NodeId parent, std::string text, int icon) {
    const auto id = static_cast<NodeId>(m_nodes.size());
    std::vector<NodeId>& siblings = parent == kNone ? m_top : m_nodes[parent].children;
    m_nodes.push_back({std::move(text), icon, parent, siblings.size(), false, {}});
    // The reference may have moved with the push: take it again.
    (parent == kNone ? m_top : m_nodes[parent].children).push_back(id);
    return id;
}

void CTreeModel::SetExpanded(NodeId node, bool expanded) {
    m_nodes[node].expanded = expanded;
}

std::size_t CTreeModel::ChildCount(NodeId parent) const {
    return parent == kNone ? m_top.size() : m_nodes[parent].children.size();
}

CTreeModel::NodeId CTreeModel::Child(NodeId parent, std::size_t index) const {
    return parent == kNone ? m_top[index] : m_nodes[parent].children[index];
}
