#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dunmore::core {

// The database tree as a model: nodes with a text, a tag, an image, a check state and
// the counts that smart check keeps (descendants, checked and disabled descendants).
// Nodes are addressed by id; ids stay valid until deleteAllNodes.
class CheckTree {
public:
    using NodeId = std::int32_t;
    static constexpr NodeId kNone = -1;

    struct Node {
        std::string text;
        std::int32_t tag = 0;
        std::int32_t image = 0;
        NodeId parent = kNone;
        std::vector<NodeId> children;
        bool checked = false;
        bool disabled = false;
        bool expanded = false;
        std::int32_t descendants = 0;
        std::int32_t checkedDescendants = 0;
        std::int32_t disabledDescendants = 0;
    };

    enum class CheckState { Unchecked, Checked, PartlyChecked };

    // Appends a node under parent (kNone: a new root). New nodes are unchecked.
    NodeId insertNode(NodeId parent, std::string text, std::int32_t tag, std::int32_t image = 0);
    void deleteAllNodes();

    // Sets the state of node and propagates it (smart check). A disabled node or a
    // disabled tree changes nothing.
    void setCheck(NodeId node, bool checked);
    void toggleCheck(NodeId node) { setCheck(node, !isChecked(node)); }
    // Smart check: a node with descendants counts as checked only when all its enabled
    // descendants are checked; a leaf reports its own state.
    bool isChecked(NodeId node) const;
    CheckState checkState(NodeId node) const;

    // Pre-order walks over checked nodes; kNone when there is none.
    NodeId firstCheckedNode() const;
    NodeId nextCheckedNode(NodeId after) const;

    // Disables one node (it keeps its state; ancestors count it as disabled).
    void setNodeDisabled(NodeId node, bool disabled);
    void enableTree(bool enabled) { m_enabled = enabled; }
    bool isEnabled() const { return m_enabled; }

    void expand(NodeId node) { if (valid(node)) m_nodes[node].expanded = true; }

    bool valid(NodeId node) const { return node >= 0 && node < static_cast<NodeId>(m_nodes.size()); }
    const Node& node(NodeId id) const { return m_nodes.at(static_cast<std::size_t>(id)); }
    const std::vector<NodeId>& roots() const { return m_roots; }
    std::size_t size() const { return m_nodes.size(); }
    NodeId parent(NodeId id) const { return valid(id) ? m_nodes[id].parent : kNone; }
    // Pre-order successor of node (kNone at the end).
    NodeId nextInPreOrder(NodeId node) const;
    // The first child whose text equals text, or kNone.
    NodeId findChild(NodeId parent, std::string_view text) const;

private:
    void setSubtree(NodeId node, bool checked);
    void recount(NodeId node);

    std::vector<Node> m_nodes;
    std::vector<NodeId> m_roots;
    bool m_enabled = true;
};

}  // namespace dunmore::core
