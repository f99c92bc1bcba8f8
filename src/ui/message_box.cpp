#include "ui/message_box.h"

#include "core/main_frame.h"

#include <QMessageBox>

namespace dunmore::ui {

namespace {
QString title() { return QString::fromUtf8(core::kApplicationTitle.data(), core::kApplicationTitle.size()); }
}  // namespace

void informationBox(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Information, title(), text, QMessageBox::Ok, parent);
    box.exec();
}

bool yesNoQuestion(QWidget* parent, const QString& text, bool questionIcon) {
    QMessageBox box(questionIcon ? QMessageBox::Question : QMessageBox::Information, title(), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

}  // namespace dunmore::ui
