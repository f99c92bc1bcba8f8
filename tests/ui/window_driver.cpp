#include "window_driver.h"

#include <QApplication>
#include <QPushButton>

namespace dunmore::test {

ModalDriver::ModalDriver() {
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, &ModalDriver::poll);
    m_timer.start();
}

void ModalDriver::poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() || modal->property("driverSeen").toBool()) return;
    modal->setProperty("driverSeen", true);
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        titles << box->windowTitle();
        icons << box->icon();
        if (box->standardButtons() & QMessageBox::Yes) {
            questions << box->text();
            const bool yes = !m_answers.empty() && m_answers.front();
            if (!m_answers.empty()) m_answers.pop_front();
            QTimer::singleShot(0, box, [box, yes] { box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click(); });
        } else {
            messages << box->text();
            QTimer::singleShot(0, box, [box] { box->button(QMessageBox::Ok)->click(); });
        }
        return;
    }
    if (m_dialogs.empty()) return;
    auto handler = std::move(m_dialogs.front());
    m_dialogs.pop_front();
    QTimer::singleShot(0, modal, [handler = std::move(handler), modal] { handler(modal); });
}

}  // namespace dunmore::test
