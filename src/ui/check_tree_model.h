#pragma once

#include "core/check_tree.h"

#include <QAbstractItemModel>
#include <QIcon>

#include <functional>
#include <memory>

namespace dunmore::ui {

// The database tree as a Qt model over the engine's check tree: one column, the node
// text, its image (table, keys, views, trigger) and a check box with the three states of
// smart check. A click on a check box goes to CheckTree::setCheck, which propagates it.
//
// A scan builds the tree on its worker thread. The model then shows nothing (detach)
// until the scan hands over its copy of the finished tree (showSnapshot), which it draws
// while the scan goes on; when the scan has ended, the model turns to the live tree that
// the save jobs walk (useLiveTree). The copy and the live tree have the same nodes with
// the same ids, so the view keeps its expansion and selection across the change.
class CheckTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit CheckTreeModel(core::CheckTree& tree, QObject* parent = nullptr);

    void detach();
    void showSnapshot(std::shared_ptr<const core::CheckTree> snapshot);
    void useLiveTree();
    // Whether the check boxes act on the live tree.
    bool live() const { return m_shown == &m_tree; }
    const core::CheckTree* shownTree() const { return m_shown; }

    // Check boxes only change while editable says so (no job running).
    void setEditable(std::function<bool()> editable) { m_editable = std::move(editable); }

    QModelIndex indexOf(core::CheckTree::NodeId node) const;
    core::CheckTree::NodeId nodeOf(const QModelIndex& index) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    // A check box changed by the user (the tree's checkbox-clicked notification).
    void checkBoxClicked(qint32 node);

private:
    const std::vector<core::CheckTree::NodeId>& childrenOf(core::CheckTree::NodeId node) const;
    void emitAllChecksChanged(const QModelIndex& parent);

    core::CheckTree& m_tree;
    const core::CheckTree* m_shown;
    std::shared_ptr<const core::CheckTree> m_snapshot;
    std::function<bool()> m_editable;
    QIcon m_images[4];
};

}  // namespace dunmore::ui
