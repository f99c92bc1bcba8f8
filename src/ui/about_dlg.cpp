#include "ui/about_dlg.h"

#include "core/main_frame.h"
#include "ui/icons.h"
#include "ui/user_guide.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

namespace dunmore::ui {

QPixmap drawBanner(int width, int height, bool cutCorners) {
    QPixmap pixmap(width, height);
    // Magenta is the colour the splash screen cuts away.
    pixmap.fill(cutCorners ? QColor(0xff, 0x00, 0xff) : QColor(Qt::white));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(0, 0, width, height), cutCorners ? 18 : 0, cutCorners ? 18 : 0);
    QLinearGradient g(0, 0, 0, height);
    g.setColorAt(0, QColor(0xe9, 0xf2, 0xfc));
    g.setColorAt(1, QColor(0xa9, 0xc9, 0xee));
    p.fillPath(shape, g);
    p.drawPixmap(24, (height - 96) / 2, drawIcon(IconKind::Application, 96));
    QFont f("DejaVu Sans");
    f.setPixelSize(height / 5);
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(0x1b, 0x3f, 0x73));
    p.drawText(QRect(136, 0, width - 150, height * 38 / 100), Qt::AlignLeft | Qt::AlignBottom, "Dunmore");
    QFont small("DejaVu Sans");
    small.setPixelSize(std::max(11, height / 12));
    p.setFont(small);
    p.setPen(QColor(0x2a, 0x4d, 0x7c));
    p.drawText(QRect(138, height * 62 / 100, width - 150, height / 2), Qt::AlignLeft | Qt::AlignTop,
               "MySQL data recovery");
    return pixmap;
}

CKestrelAboutDlg::CKestrelAboutDlg(QWidget* parent) : QDialog(parent) {
    const QString title = QString::fromUtf8(core::kApplicationTitle.data(), core::kApplicationTitle.size());
    setWindowTitle(title);
    setModal(true);
    auto* outer = new QVBoxLayout(this);
    auto* banner = new QLabel(this);
    banner->setPixmap(drawBanner(420, 130, false));
    outer->addWidget(banner);
    auto* name = new QLabel(title, this);
    QFont bold("Arial");
    bold.setStyleHint(QFont::SansSerif);
    bold.setPixelSize(15);
    bold.setWeight(QFont::DemiBold);
    name->setFont(bold);
    outer->addWidget(name);
    auto* links = new QHBoxLayout;
    for (auto [label, tip, anchor] :
         {std::tuple{"Website", "Company website", ""}, std::tuple{"Support", "Support email address", "support"},
          std::tuple{"Sales", "Sales email address", "sales"}}) {
        auto* link = new QPushButton(label, this);
        link->setFlat(true);
        link->setCursor(Qt::PointingHandCursor);
        link->setToolTip(tip);
        link->setAutoDefault(false);
        link->setStyleSheet("QPushButton { color: #1a5fb4; text-decoration: underline; }");
        const QString section = anchor;
        connect(link, &QPushButton::clicked, this, [section] {
            const QUrl url = userGuideUrl(section);
            if (url.isValid()) QDesktopServices::openUrl(url);
        });
        links->addWidget(link);
    }
    links->addStretch(1);
    outer->addLayout(links);
    outer->addWidget(new QLabel(
        "Recovers databases from the files of a MySQL or MariaDB data folder, without a server.", this));
    auto* okRow = new QHBoxLayout;
    okRow->addStretch(1);
    auto* ok = new QPushButton(makeIcon(IconKind::Ok), "OK", this);
    ok->setAutoDefault(false);
    ok->setMinimumWidth(96);
    okRow->addWidget(ok);
    outer->addLayout(okRow);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void CKestrelAboutDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Return) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace dunmore::ui
