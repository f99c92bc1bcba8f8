#include "ui/file_view.h"

#include "ui/check_tree_model.h"

#include <QHeaderView>
#include <QPainter>
#include <QTreeView>

namespace dunmore::ui {

CFileView::CFileView(CheckTreeModel* model, QWidget* parent) : QWidget(parent) {
    m_tree = new QTreeView(this);
    m_tree->setObjectName("databaseTree");
    m_tree->setModel(model);
    m_tree->setHeaderHidden(true);
    m_tree->setRootIsDecorated(true);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->setFrameShape(QFrame::NoFrame);
    m_tree->setUniformRowHeights(true);
    m_tree->setExpandsOnDoubleClick(true);
    m_tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_tree->header()->setStretchLastSection(false);
    m_normal = m_tree->palette();
    setFocusProxy(m_tree);
}

void CFileView::setTreeEnabled(bool enabled) {
    m_enabled = enabled;
    if (enabled) {
        m_tree->setPalette(m_normal);
        return;
    }
    QPalette pal = m_normal;
    const QColor window = m_normal.color(QPalette::Base);
    const auto lower = [](int c) { return c < 10 ? c : c - 10; };
    const QColor dimmed(lower(window.red()), lower(window.green()), lower(window.blue()));
    const QColor grey = m_normal.color(QPalette::Disabled, QPalette::Text);
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::Base, dimmed);
        pal.setColor(group, QPalette::Text, grey);
    }
    m_tree->setPalette(pal);
}

void CFileView::resizeEvent(QResizeEvent* event) {
    m_tree->setGeometry(rect().adjusted(1, 1, -1, -1));
    QWidget::resizeEvent(event);
}

void CFileView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(QPalette::Dark));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace dunmore::ui
