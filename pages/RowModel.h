// Lists and trees as the pages hold them, without a toolkit: columns with their headings and
// width rules, the text and icon of each cell, the selection, and a revision that tells a view
// to fetch the rows again. The Qt layer adapts them with one item model for lists and one for
// trees and converts only the cells it draws, so a list of a hundred thousand accounts is never
// copied into widget items.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// One column of a list.
struct CColumnSpec {
    const char* heading; // UTF-8
    // The column's share of the list's client width in thousandths; 0 for what the columns
    // with a share leave (a half, rounded down, is 500).
    int widthShare = 0;
};

// A flat list of rows. Texts are the suite's 8-bit text (Windows-1252).
class CRowModel {
public:
    virtual ~CRowModel() = default;

    virtual std::span<const CColumnSpec> Columns() const = 0;
    // The icons rows may carry, by index: names of the program's icon resources.
    virtual std::span<const char* const> Icons() const { return {}; }
    virtual std::size_t RowCount() const = 0;
    virtual std::string CellText(std::size_t row, std::size_t column) const = 0;
    // The icon shown before the first column, an index into Icons(); -1 for none.
    virtual int RowIcon(std::size_t /*row*/) const { return -1; }

    // The selected row; nothing when none is. A reset of the rows clears it.
    std::optional<std::size_t> Selected() const { return m_selected; }
    void Select(std::optional<std::size_t> row);

    // Advanced whenever the rows are replaced: a view then fetches them again.
    std::uint64_t Revision() const { return m_revision; }

protected:
    // The rows were replaced; the selection is gone with them.
    void Reset();

private:
    std::optional<std::size_t> m_selected;
    std::uint64_t m_revision = 0;
};

// A tree of nodes, each with a text and an icon, held as data.
class CTreeModel {
public:
    using NodeId = std::uint32_t;
    static constexpr NodeId kNone = UINT32_MAX; // the invisible top: parent of the top nodes

    explicit CTreeModel(std::vector<const char*> icons = {}) : m_icons(std::move(icons)) {}

    std::span<const char* const> Icons() const { return m_icons; }

    // Building: Clear, then Add from the top down. Every Clear advances the revision.
    void Clear();
    // Room for nodes in all, so that a tree of ten thousand is built without moving it.
    void Reserve(std::size_t nodes) { m_nodes.reserve(nodes); }
    NodeId Add(NodeId parent, std::string text, int icon = -1);
    void SetExpanded(NodeId node, bool expanded);

    std::size_t ChildCount(NodeId parent) const;
    NodeId Child(NodeId parent, std::size_t index) const;
    NodeId Parent(NodeId node) const { return m_nodes[node].parent; }
    std::size_t IndexInParent(NodeId node) const { return m_nodes[node].indexInParent; }
    const std::string& Text(NodeId node) const { return m_nodes[node].text; }
    int Icon(NodeId node) const { return m_nodes[node].icon; }
    bool IsExpanded(NodeId node) const { return m_nodes[node].expanded; }
    std::size_t NodeCount() const { return m_nodes.size(); }

    // The selected node; kNone when none is. Clear clears it.
    NodeId Selected() const { return m_selected; }
    void Select(NodeId node) { m_selected = node; }

    std::uint64_t Revision() const { return m_revision; }

private:
    struct Node {
        std::string text;
        int icon;
        NodeId parent;
        std::size_t indexInParent;
        bool expanded;
        std::vector<NodeId> children;
    };
    std::vector<const char*> m_icons;
    std::vector<Node> m_nodes;
    std::vector<NodeId> m_top;
    NodeId m_selected = kNone;
    std::uint64_t m_revision = 0;
};
