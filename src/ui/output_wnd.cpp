#include "ui/output_wnd.h"

namespace dunmore::ui {

COutputWnd::COutputWnd(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setUniformItemSizes(true);
    setWordWrap(false);
}

void COutputWnd::addOutputLine(const QString& text) {
    addItem(text);
    scrollToBottom();
}

QStringList COutputWnd::lines() const {
    QStringList out;
    for (int i = 0; i < count(); ++i) out << item(i)->text();
    return out;
}

}  // namespace dunmore::ui
