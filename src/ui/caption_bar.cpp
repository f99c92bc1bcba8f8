#include "ui/caption_bar.h"

#include "ui/icons.h"

#include <QHBoxLayout>
#include <QLabel>

namespace dunmore::ui {

CMyCaptionBar::CMyCaptionBar(QWidget* parent) : QFrame(parent) {
    setObjectName("captionBar");
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0xfd, 0xf6, 0xd8));
    pal.setColor(QPalette::WindowText, QColor(0x20, 0x20, 0x20));
    setPalette(pal);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->setSpacing(8);
    auto* icon = new QLabel(this);
    icon->setPixmap(drawIcon(IconKind::Information, 16));
    icon->setFixedSize(16, 16);
    m_text = new QLabel(this);
    m_text->setTextFormat(Qt::PlainText);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(icon);
    layout->addWidget(m_text, 1);
}

void CMyCaptionBar::setText(const QString& text) {
    // Jobs end some captions with a line break; the bar shows one line.
    QString line = text;
    while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
    m_text->setText(line);
    m_text->setToolTip(line);
    m_text->repaint();
}

QString CMyCaptionBar::text() const { return m_text->text(); }

}  // namespace dunmore::ui
