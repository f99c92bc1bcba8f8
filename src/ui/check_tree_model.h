#pragma once

#include "core/check_tree.h"

#include <QAbstractItemModel>
#include <QIcon>

#include <functional>

namespace dunmore::ui {

// The database tree as a Qt model over the engine's check tree: one column, the node
// text, its image (table, keys, views, trigger) and a check box with the three states of
// smart check. A click on a check box goes to CheckTree::setCheck, which propagates it.
//
// The model reads the tree only while it is attached: a scan rebuilds the tree on its
// worker thread, so the window detaches the model when the scan starts and attaches it
// again when the scan has handed the finished tree over.
class CheckTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit CheckTreeModel(core::CheckTree& tree, QObject* parent = nullptr);

    // Shows no nodes until attach (the tree is being rebuilt elsewhere).
    void detach();
    // Shows the tree as it is now.
    void attach();
    bool attached() const { return m_attached; }

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
    bool m_attached = true;
    std::function<bool()> m_editable;
    QIcon m_images[4];
};

}  // namespace dunmore::ui
