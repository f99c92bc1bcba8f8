#include "ui/kestrel_static.h"

#include "ui/icons.h"
#include "ui/records_model.h"

#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QTableView>
#include <QToolButton>

namespace dunmore::ui {

namespace {

constexpr int kColumnWidth = 200;

QFont paneFont(bool bold) {
    QFont f("Arial");
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(16);
    f.setWeight(bold ? QFont::Bold : QFont::Normal);
    return f;
}

}  // namespace

CKestrelStatic::CKestrelStatic(QWidget* parent) : QWidget(parent) {
    const QFont normal = paneFont(false);
    m_previous = new QToolButton(this);
    m_next = new QToolButton(this);
    for (auto [button, kind, tip] : {std::tuple{m_previous, IconKind::Previous, "Previous Records"},
                                     std::tuple{m_next, IconKind::Next, "Next Records"}}) {
        button->setFont(normal);
        button->setIcon(makeIcon(kind));
        button->setIconSize(QSize(20, 20));
        button->setToolTip(tip);
        button->setAccessibleName(tip);
        button->setAutoRaise(false);
    }
    connect(m_previous, &QToolButton::clicked, this, &CKestrelStatic::previousRecords);
    connect(m_next, &QToolButton::clicked, this, &CKestrelStatic::nextRecords);

    m_list = new QTableView(this);
    m_model = new RecordsModel(this);
    m_list->setModel(m_model);
    m_list->setShowGrid(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setWordWrap(false);
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 6);
    m_list->horizontalHeader()->setFont(paneFont(true));
    m_list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_list->horizontalHeader()->setDefaultSectionSize(kColumnWidth);
    m_list->horizontalHeader()->setHighlightSections(false);
    m_list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    m_text = new QPlainTextEdit(this);
    m_text->setReadOnly(true);
    m_text->setFont(normal);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);

    m_label = new QLabel(this);
    m_label->setFont(normal);

    m_list->hide();
    m_label->hide();
    m_previous->hide();
    m_next->hide();
}

void CKestrelStatic::showList() {
    m_text->hide();
    m_list->show();
}

void CKestrelStatic::showText(const QString& text) {
    m_list->hide();
    m_text->setPlainText(text);
    m_text->show();
}

void CKestrelStatic::applyColumnWidths() {
    for (int c = 0; c < m_model->columnCount(); ++c) m_list->setColumnWidth(c, kColumnWidth);
}

void CKestrelStatic::resizeEvent(QResizeEvent* event) {
    const int cx = event->size().width();
    const int cy = event->size().height();
    m_text->setGeometry(0, 0, cx, cy);
    m_list->setGeometry(0, 0, cx, cy - 35);
    m_previous->setGeometry(cx - 120, cy - 31, 50, 25);
    m_next->setGeometry(cx - 65, cy - 31, 50, 25);
    m_label->setGeometry(10, cy - 31, 490, 25);
    QWidget::resizeEvent(event);
}

}  // namespace dunmore::ui
