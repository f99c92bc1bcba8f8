#include "ui/check_tree_model.h"

#include "ui/icons.h"

namespace dunmore::ui {

namespace {
const std::vector<core::CheckTree::NodeId> kNoChildren;
}  // namespace

CheckTreeModel::CheckTreeModel(core::CheckTree& tree, QObject* parent)
    : QAbstractItemModel(parent), m_tree(tree), m_shown(&tree) {
    m_images[0] = makeIcon(IconKind::Table);
    m_images[1] = makeIcon(IconKind::Keys);
    m_images[2] = makeIcon(IconKind::Views);
    m_images[3] = makeIcon(IconKind::Trigger);
}

void CheckTreeModel::detach() {
    beginResetModel();
    m_shown = nullptr;
    m_snapshot.reset();
    endResetModel();
}

void CheckTreeModel::showSnapshot(std::shared_ptr<const core::CheckTree> snapshot) {
    beginResetModel();
    m_snapshot = std::move(snapshot);
    m_shown = m_snapshot.get();
    endResetModel();
}

void CheckTreeModel::useLiveTree() {
    if (m_shown && m_shown->size() == m_tree.size()) {
        // Same nodes, same ids: the indexes stay valid.
        m_shown = &m_tree;
        m_snapshot.reset();
        emitAllChecksChanged({});
        return;
    }
    beginResetModel();
    m_shown = &m_tree;
    m_snapshot.reset();
    endResetModel();
}

const std::vector<core::CheckTree::NodeId>& CheckTreeModel::childrenOf(
    core::CheckTree::NodeId node) const {
    if (!m_shown) return kNoChildren;
    if (node == core::CheckTree::kNone) return m_shown->roots();
    return m_shown->valid(node) ? m_shown->node(node).children : kNoChildren;
}

core::CheckTree::NodeId CheckTreeModel::nodeOf(const QModelIndex& index) const {
    if (!index.isValid() || !m_shown) return core::CheckTree::kNone;
    return static_cast<core::CheckTree::NodeId>(index.internalId());
}

QModelIndex CheckTreeModel::indexOf(core::CheckTree::NodeId node) const {
    if (!m_shown || !m_shown->valid(node)) return {};
    const auto& siblings = childrenOf(m_shown->parent(node));
    const auto it = std::find(siblings.begin(), siblings.end(), node);
    if (it == siblings.end()) return {};
    return createIndex(static_cast<int>(it - siblings.begin()), 0, static_cast<quintptr>(node));
}

QModelIndex CheckTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0 || (parent.isValid() && parent.column() != 0)) return {};
    const auto& children = childrenOf(parent.isValid() ? nodeOf(parent) : core::CheckTree::kNone);
    if (row >= static_cast<int>(children.size())) return {};
    return createIndex(row, 0, static_cast<quintptr>(children[row]));
}

QModelIndex CheckTreeModel::parent(const QModelIndex& child) const {
    const auto node = nodeOf(child);
    if (node == core::CheckTree::kNone) return {};
    return indexOf(m_shown->parent(node));
}

int CheckTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() && parent.column() != 0) return 0;
    return static_cast<int>(
        childrenOf(parent.isValid() ? nodeOf(parent) : core::CheckTree::kNone).size());
}

int CheckTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant CheckTreeModel::data(const QModelIndex& index, int role) const {
    const auto id = nodeOf(index);
    if (!m_shown || !m_shown->valid(id)) return {};
    const auto& node = m_shown->node(id);
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            return QString::fromStdString(node.text);
        case Qt::DecorationRole:
            switch (node.image) {
                case 2: return m_images[1];
                case 15: return m_images[2];
                case 21: return m_images[3];
                default: return m_images[0];
            }
        case Qt::CheckStateRole:
            switch (m_shown->checkState(id)) {
                case core::CheckTree::CheckState::Checked: return Qt::Checked;
                case core::CheckTree::CheckState::PartlyChecked: return Qt::PartiallyChecked;
                case core::CheckTree::CheckState::Unchecked: return Qt::Unchecked;
            }
            return {};
        default:
            return {};
    }
}

bool CheckTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    const auto id = nodeOf(index);
    if (role != Qt::CheckStateRole || !live() || !m_tree.valid(id)) return false;
    if (m_editable && !m_editable()) return false;
    if (!m_tree.isEnabled() || m_tree.node(id).disabled) return false;
    m_tree.setCheck(id, value.toInt() == Qt::Checked);
    emitAllChecksChanged({});
    emit checkBoxClicked(id);
    return true;
}

void CheckTreeModel::emitAllChecksChanged(const QModelIndex& parent) {
    const int rows = rowCount(parent);
    if (rows == 0) return;
    emit dataChanged(index(0, 0, parent), index(rows - 1, 0, parent), {Qt::CheckStateRole});
    for (int r = 0; r < rows; ++r) emitAllChecksChanged(index(r, 0, parent));
}

Qt::ItemFlags CheckTreeModel::flags(const QModelIndex& index) const {
    const auto id = nodeOf(index);
    if (!m_shown || !m_shown->valid(id)) return Qt::NoItemFlags;
    // A disabled tree keeps its items selectable: a click while a job runs is answered
    // by the window (the busy message); only the check boxes refuse to change.
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
    if (!m_shown->node(id).disabled) f |= Qt::ItemIsEnabled;
    return f;
}

}  // namespace dunmore::ui
