#include "ui/application_look.h"

#include <QApplication>
#include <QPalette>
#include <QSettings>
#include <QStyleFactory>

namespace dunmore::ui {

namespace {

QPalette tinted(QColor window, QColor base, QColor highlight, QColor text = Qt::black) {
    QPalette pal;
    pal.setColor(QPalette::Window, window);
    pal.setColor(QPalette::Button, window);
    pal.setColor(QPalette::Base, base);
    pal.setColor(QPalette::AlternateBase, window.lighter(106));
    pal.setColor(QPalette::Highlight, highlight);
    pal.setColor(QPalette::HighlightedText, Qt::white);
    pal.setColor(QPalette::WindowText, text);
    pal.setColor(QPalette::ButtonText, text);
    pal.setColor(QPalette::Text, text);
    pal.setColor(QPalette::ToolTipBase, QColor(0xff, 0xff, 0xe1));
    pal.setColor(QPalette::ToolTipText, Qt::black);
    pal.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
    pal.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    pal.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
    return pal;
}

}  // namespace

void applyApplicationLook(int look) {
    if (QStyle* style = QStyleFactory::create("Fusion")) QApplication::setStyle(style);
    QPalette pal;
    switch (look) {
        case 210: pal = tinted(QColor(0xd4, 0xd0, 0xc8), Qt::white, QColor(0x0a, 0x24, 0x6a)); break;
        case 211: pal = tinted(QColor(0xf0, 0xee, 0xe8), Qt::white, QColor(0x31, 0x6a, 0xc5)); break;
        case 212: pal = tinted(QColor(0xec, 0xe9, 0xd8), Qt::white, QColor(0x31, 0x6a, 0xc5)); break;
        case 213: pal = tinted(QColor(0xe3, 0xef, 0xff), Qt::white, QColor(0x31, 0x6a, 0xc5)); break;
        case 214: pal = tinted(QColor(0xf0, 0xf0, 0xf0), Qt::white, QColor(0x33, 0x99, 0xff)); break;
        case 216: pal = tinted(QColor(0x53, 0x53, 0x53), QColor(0x3a, 0x3a, 0x3a), QColor(0xe8, 0x8a, 0x1a), Qt::white); break;
        case 217: pal = tinted(QColor(0xe6, 0xe9, 0xee), Qt::white, QColor(0x6a, 0x7f, 0x9e)); break;
        case 218: pal = tinted(QColor(0xd9, 0xec, 0xf2), Qt::white, QColor(0x2b, 0x8c, 0xb0)); break;
        default: pal = tinted(QColor(0xdf, 0xe9, 0xf5), Qt::white, QColor(0x3d, 0x7b, 0xc8)); break;
    }
    QApplication::setPalette(pal);
}

int storedApplicationLook() {
    QSettings settings;
    const int look = settings.value("ApplicationLook", kDefaultApplicationLook).toInt();
    return look >= 210 && look <= 218 ? look : kDefaultApplicationLook;
}

void storeApplicationLook(int look) {
    QSettings settings;
    settings.setValue("ApplicationLook", look);
}

}  // namespace dunmore::ui
