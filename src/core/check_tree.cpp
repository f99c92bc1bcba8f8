#include "core/check_tree.h"

namespace dunmore::core {

CheckTree::NodeId CheckTree::insertNode(NodeId parent, std::string text, std::int32_t tag,
                                        std::int32_t image) {
    const NodeId id = static_cast<NodeId>(m_nodes.size());
    Node n;
    n.text = std::move(text);
    n.tag = tag;
    n.image = image;
    n.parent = valid(parent) ? parent : kNone;
    m_nodes.push_back(std::move(n));
    if (valid(parent)) {
        m_nodes[parent].children.push_back(id);
        for (NodeId a = parent; a != kNone; a = m_nodes[a].parent) {
            ++m_nodes[a].descendants;
            // An unchecked child joins: a checked ancestor no longer has all checked.
            if (m_nodes[a].checked &&
                m_nodes[a].checkedDescendants != m_nodes[a].descendants - m_nodes[a].disabledDescendants)
                m_nodes[a].checked = false;
        }
    } else {
        m_roots.push_back(id);
    }
    return id;
}

void CheckTree::deleteAllNodes() {
    m_nodes.clear();
    m_roots.clear();
}

void CheckTree::setSubtree(NodeId node, bool checked) {
    Node& n = m_nodes[node];
    n.checked = checked;
    for (NodeId c : n.children) setSubtree(c, checked);
    n.checkedDescendants = checked ? n.descendants - n.disabledDescendants : 0;
}

// Recomputes a node's checked-descendant count from its children and its own state
// from the count. Children's counts are already right.
void CheckTree::recount(NodeId node) {
    Node& n = m_nodes[node];
    std::int32_t count = 0;
    for (NodeId c : n.children) {
        const Node& child = m_nodes[c];
        if (child.checked && !child.disabled) ++count;
        count += child.checkedDescendants;
    }
    n.checkedDescendants = count;
    if (!n.children.empty()) n.checked = count == n.descendants - n.disabledDescendants;
}

void CheckTree::setCheck(NodeId node, bool checked) {
    if (!valid(node) || !m_enabled || m_nodes[node].disabled) return;
    setSubtree(node, checked);
    for (NodeId a = m_nodes[node].parent; a != kNone; a = m_nodes[a].parent) recount(a);
}

bool CheckTree::isChecked(NodeId node) const {
    if (!valid(node)) return false;
    const Node& n = m_nodes[node];
    if (n.descendants == 0) return n.checked;
    return n.checkedDescendants == n.descendants - n.disabledDescendants;
}

CheckTree::CheckState CheckTree::checkState(NodeId node) const {
    if (isChecked(node)) return CheckState::Checked;
    if (valid(node) && m_nodes[node].checkedDescendants > 0) return CheckState::PartlyChecked;
    return CheckState::Unchecked;
}

CheckTree::NodeId CheckTree::nextInPreOrder(NodeId node) const {
    if (!valid(node)) return kNone;
    if (!m_nodes[node].children.empty()) return m_nodes[node].children.front();
    for (NodeId cur = node; cur != kNone;) {
        const NodeId p = m_nodes[cur].parent;
        const std::vector<NodeId>& siblings = p == kNone ? m_roots : m_nodes[p].children;
        for (std::size_t i = 0; i + 1 < siblings.size(); ++i)
            if (siblings[i] == cur) return siblings[i + 1];
        cur = p;
    }
    return kNone;
}

CheckTree::NodeId CheckTree::firstCheckedNode() const {
    if (m_roots.empty()) return kNone;
    const NodeId first = m_roots.front();
    return isChecked(first) ? first : nextCheckedNode(first);
}

CheckTree::NodeId CheckTree::nextCheckedNode(NodeId after) const {
    for (NodeId n = nextInPreOrder(after); n != kNone; n = nextInPreOrder(n))
        if (isChecked(n)) return n;
    return kNone;
}

void CheckTree::setNodeDisabled(NodeId node, bool disabled) {
    if (!valid(node) || m_nodes[node].disabled == disabled) return;
    m_nodes[node].disabled = disabled;
    const std::int32_t delta = disabled ? 1 : -1;
    for (NodeId a = m_nodes[node].parent; a != kNone; a = m_nodes[a].parent) {
        m_nodes[a].disabledDescendants += delta;
        recount(a);
    }
}

CheckTree::NodeId CheckTree::findChild(NodeId parent, std::string_view text) const {
    if (!valid(parent)) return kNone;
    for (NodeId c : m_nodes[parent].children)
        if (m_nodes[c].text == text) return c;
    return kNone;
}

}  // namespace dunmore::core
