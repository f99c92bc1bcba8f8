#pragma once

#include <QWidget>

class QTreeView;

namespace dunmore::ui {

class CheckTreeModel;

// The "MySQL Database Objects" pane: the check-box tree inset by one pixel, framed in the
// button-shadow colour. Disabled (while a job runs) the tree keeps its nodes but shows
// a background ten steps darker and grey text, and its check boxes refuse to change.
class CFileView : public QWidget {
    Q_OBJECT
public:
    CFileView(CheckTreeModel* model, QWidget* parent = nullptr);
    QTreeView* tree() const { return m_tree; }
    void setTreeEnabled(bool enabled);
    bool treeEnabled() const { return m_enabled; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QTreeView* m_tree;
    QPalette m_normal;
    bool m_enabled = true;
};

}  // namespace dunmore::ui
