#include "ui/splash_screen_ex.h"

#include "ui/about_dlg.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTimer>

namespace dunmore::ui {

CSplashScreenEx::CSplashScreenEx(QWidget* owner, const QString& text, int displayMs)
    : QSplashScreen(drawBanner(480, 200, true), Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint | Qt::Tool),
      m_text(text),
      m_displayMs(displayMs) {
    Q_UNUSED(owner);
    setObjectName("SplashScreenExClass");
    setAttribute(Qt::WA_DeleteOnClose);
    setMask(pixmap().createMaskFromColor(QColor(0xff, 0x00, 0xff)));
}

void CSplashScreenEx::start() {
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    setWindowOpacity(0.0);
    show();
    auto* fadeIn = new QPropertyAnimation(this, "windowOpacity", this);
    fadeIn->setDuration(500);
    fadeIn->setStartValue(0.0);
    fadeIn->setEndValue(1.0);
    fadeIn->start(QAbstractAnimation::DeleteWhenStopped);
    // A precise timer: a coarse one may fire up to 5 % early, cutting the time shown.
    QTimer::singleShot(m_displayMs, Qt::PreciseTimer, this, [this] {
        auto* fadeOut = new QPropertyAnimation(this, "windowOpacity", this);
        fadeOut->setDuration(200);
        fadeOut->setStartValue(windowOpacity());
        fadeOut->setEndValue(0.0);
        connect(fadeOut, &QPropertyAnimation::finished, this, &QWidget::close);
        fadeOut->start(QAbstractAnimation::DeleteWhenStopped);
    });
}

void CSplashScreenEx::mousePressEvent(QMouseEvent* event) { event->accept(); }

void CSplashScreenEx::drawContents(QPainter* painter) {
    QFont f = QGuiApplication::font();
    f.setPixelSize(25);
    painter->setFont(f);
    painter->setPen(Qt::black);
    painter->drawText(rect(), Qt::AlignCenter, m_text);
}

}  // namespace dunmore::ui
