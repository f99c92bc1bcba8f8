#include "ui/icons.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace dunmore::ui {

namespace {

// All pictures are drawn on a 32-unit grid and scaled to the size asked.
constexpr qreal kGrid = 32.0;

void drum(QPainter& p, QRectF box, QColor top, QColor side) {
    const qreal capH = box.height() * 0.28;
    QPainterPath body;
    body.moveTo(box.left(), box.top() + capH / 2);
    body.lineTo(box.left(), box.bottom() - capH / 2);
    body.arcTo(QRectF(box.left(), box.bottom() - capH, box.width(), capH), 180, 180);
    body.lineTo(box.right(), box.top() + capH / 2);
    body.closeSubpath();
    QLinearGradient g(box.topLeft(), box.topRight());
    g.setColorAt(0, side.lighter(125));
    g.setColorAt(0.5, side);
    g.setColorAt(1, side.darker(140));
    p.setBrush(g);
    p.setPen(QPen(side.darker(180), 1.2));
    p.drawPath(body);
    // Bands between the stacked discs.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(side.darker(150), 1.0));
    for (int i = 1; i <= 2; ++i) {
        const qreal y = box.top() + capH / 2 + (box.height() - capH) * i / 3.0;
        p.drawArc(QRectF(box.left(), y - capH / 2, box.width(), capH), 180 * 16, 180 * 16);
    }
    p.setBrush(top);
    p.setPen(QPen(side.darker(180), 1.2));
    p.drawEllipse(QRectF(box.left(), box.top(), box.width(), capH));
}

void arrow(QPainter& p, QPointF from, QPointF to, QColor colour, qreal width) {
    p.setPen(QPen(colour.darker(150), 1.0));
    p.setBrush(colour);
    const QLineF line(from, to);
    const QLineF unit = line.unitVector();
    const QPointF d = unit.p2() - unit.p1();
    const QPointF n(-d.y(), d.x());
    const qreal head = width * 1.9;
    const QPointF base = to - d * head;
    QPolygonF poly;
    poly << from + n * width / 2 << base + n * width / 2 << base + n * head << to
         << base - n * head << base - n * width / 2 << from - n * width / 2;
    p.drawPolygon(poly);
}

void roundSign(QPainter& p, QColor colour, const QString& glyph) {
    QRadialGradient g(QPointF(12, 10), 20);
    g.setColorAt(0, colour.lighter(150));
    g.setColorAt(1, colour);
    p.setBrush(g);
    p.setPen(QPen(colour.darker(160), 1.4));
    p.drawEllipse(QRectF(2, 2, 28, 28));
    QFont f("DejaVu Sans");
    f.setBold(true);
    f.setPixelSize(22);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(2, 2, 28, 28), Qt::AlignCenter, glyph);
}

void folder(QPainter& p, bool open) {
    const QColor back(0xd8, 0x9b, 0x2b), front(0xf6, 0xc6, 0x4f);
    p.setPen(QPen(back.darker(150), 1.2));
    p.setBrush(back);
    QPainterPath tab;
    tab.moveTo(3, 8);
    tab.lineTo(3, 6);
    tab.lineTo(12, 6);
    tab.lineTo(14, 8.5);
    tab.lineTo(27, 8.5);
    tab.lineTo(27, 26);
    tab.lineTo(3, 26);
    tab.closeSubpath();
    p.drawPath(tab);
    p.setPen(QPen(QColor(0x88, 0x88, 0x88), 0.8));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(6, 10, 19, 12));
    QLinearGradient g(0, 12, 0, 26);
    g.setColorAt(0, front.lighter(115));
    g.setColorAt(1, front);
    p.setBrush(g);
    p.setPen(QPen(back.darker(150), 1.2));
    QPolygonF lid;
    if (open)
        lid << QPointF(7, 13) << QPointF(30, 13) << QPointF(26, 26) << QPointF(3, 26);
    else
        lid << QPointF(3, 12) << QPointF(27, 12) << QPointF(27, 26) << QPointF(3, 26);
    p.drawPolygon(lid);
}

void grid(QPainter& p, QColor head) {
    p.setPen(QPen(QColor(0x4a, 0x5a, 0x70), 1.4));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(3, 5, 26, 22));
    p.setBrush(head);
    p.drawRect(QRectF(3, 5, 26, 6));
    p.setPen(QPen(QColor(0x70, 0x80, 0x98), 1.0));
    for (qreal y : {16.5, 21.5}) p.drawLine(QPointF(3, y), QPointF(29, y));
    for (qreal x : {12.0, 20.5}) p.drawLine(QPointF(x, 11), QPointF(x, 27));
}

void key(QPainter& p) {
    const QColor gold(0xe0, 0xa8, 0x20);
    p.setPen(QPen(gold.darker(170), 1.4));
    p.setBrush(gold);
    p.drawEllipse(QRectF(3, 7, 14, 14));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(7, 11, 6, 6));
    p.setBrush(gold);
    QPolygonF shaft;
    shaft << QPointF(16, 12.5) << QPointF(29, 12.5) << QPointF(29, 16) << QPointF(27, 16)
          << QPointF(27, 20) << QPointF(24, 20) << QPointF(24, 16) << QPointF(22, 16)
          << QPointF(22, 19) << QPointF(19, 19) << QPointF(19, 16) << QPointF(16, 16);
    p.drawPolygon(shaft);
}

void eye(QPainter& p) {
    p.setPen(QPen(QColor(0x2a, 0x5d, 0x9f), 1.6));
    p.setBrush(QColor(0xe8, 0xf1, 0xfb));
    QPainterPath lens;
    lens.moveTo(2, 16);
    lens.quadTo(16, 2, 30, 16);
    lens.quadTo(16, 30, 2, 16);
    p.drawPath(lens);
    p.setBrush(QColor(0x2a, 0x5d, 0x9f));
    p.drawEllipse(QRectF(10.5, 10.5, 11, 11));
    p.setBrush(Qt::white);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(13, 12.5, 3.5, 3.5));
}

void bolt(QPainter& p) {
    const QColor c(0xf0, 0x8c, 0x10);
    p.setPen(QPen(c.darker(160), 1.2));
    p.setBrush(c);
    QPolygonF poly;
    poly << QPointF(19, 2) << QPointF(7, 18) << QPointF(15, 18) << QPointF(12, 30)
         << QPointF(25, 12) << QPointF(17, 12) << QPointF(21, 2);
    p.drawPolygon(poly);
}

void tick(QPainter& p, QColor colour) {
    QPen pen(colour, 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(6, 17);
    path.lineTo(13, 24);
    path.lineTo(26, 8);
    p.drawPath(path);
}

void cross(QPainter& p, QColor colour) {
    QPen pen(colour, 4.5, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.drawLine(QPointF(8, 8), QPointF(24, 24));
    p.drawLine(QPointF(24, 8), QPointF(8, 24));
}

void paint(QPainter& p, IconKind kind) {
    const QColor blue(0x2f, 0x6f, 0xc0), drumTop(0x9c, 0xc8, 0xf0);
    switch (kind) {
        case IconKind::Application:
            drum(p, QRectF(4, 3, 20, 26), drumTop, blue);
            p.setPen(QPen(QColor(0x1f, 0x8a, 0x3c).darker(140), 1.0));
            p.setBrush(QColor(0x2d, 0xb0, 0x50));
            p.drawEllipse(QRectF(15, 15, 16, 16));
            arrow(p, QPointF(23, 28), QPointF(23, 17), Qt::white, 3.0);
            break;
        case IconKind::Open:
            folder(p, true);
            break;
        case IconKind::Stop: {
            QPolygonF oct;
            for (int i = 0; i < 8; ++i) {
                const qreal a = (22.5 + 45.0 * i) * M_PI / 180.0;
                oct << QPointF(16 + 14 * std::cos(a), 16 + 14 * std::sin(a));
            }
            QRadialGradient g(QPointF(12, 10), 20);
            g.setColorAt(0, QColor(0xf2, 0x5b, 0x4b));
            g.setColorAt(1, QColor(0xc0, 0x1c, 0x18));
            p.setBrush(g);
            p.setPen(QPen(QColor(0x80, 0x10, 0x10), 1.4));
            p.drawPolygon(oct);
            p.setBrush(Qt::white);
            p.setPen(Qt::NoPen);
            p.drawRect(QRectF(10.5, 10.5, 11, 11));
            break;
        }
        case IconKind::Save:
            drum(p, QRectF(3, 9, 20, 21), drumTop, blue);
            arrow(p, QPointF(24, 1), QPointF(24, 19), QColor(0x2d, 0xb0, 0x50), 5.0);
            break;
        case IconKind::Help:
            roundSign(p, QColor(0x2a, 0x7a, 0xd8), "?");
            break;
        case IconKind::About:
            roundSign(p, QColor(0x1d, 0x8f, 0x9e), "i");
            break;
        case IconKind::Information:
            roundSign(p, QColor(0x2a, 0x7a, 0xd8), "i");
            break;
        case IconKind::Previous:
            arrow(p, QPointF(28, 16), QPointF(4, 16), blue, 7.0);
            break;
        case IconKind::Next:
            arrow(p, QPointF(4, 16), QPointF(28, 16), blue, 7.0);
            break;
        case IconKind::Ok:
            tick(p, QColor(0x1f, 0x9a, 0x3e));
            break;
        case IconKind::Cancel:
            cross(p, QColor(0xc8, 0x2a, 0x22));
            break;
        case IconKind::TestConnection:
            drum(p, QRectF(2, 6, 16, 22), drumTop, blue);
            bolt(p);
            break;
        case IconKind::Table:
            grid(p, QColor(0x6f, 0x9f, 0xd8));
            break;
        case IconKind::Keys:
            key(p);
            break;
        case IconKind::Views:
            eye(p);
            break;
        case IconKind::Trigger:
            bolt(p);
            break;
    }
}

}  // namespace

QPixmap drawIcon(IconKind kind, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / kGrid, size / kGrid);
    paint(p, kind);
    return pixmap;
}

QIcon makeIcon(IconKind kind) {
    QIcon icon;
    for (int size : {16, 24, 32, 48}) icon.addPixmap(drawIcon(kind, size));
    return icon;
}

}  // namespace dunmore::ui
