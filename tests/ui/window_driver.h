#pragma once

// Drives the real window the way a person would: modal boxes and dialogs are answered
// from a script as they come up (a timer looks for the active modal widget), and every
// message box text is recorded.

#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>

namespace dunmore::test {

class ModalDriver : public QObject {
    Q_OBJECT
public:
    ModalDriver();

    // The next modal dialog that is not a message box goes to handler.
    void onDialog(std::function<void(QWidget*)> handler) { m_dialogs.push_back(std::move(handler)); }
    // A dialog object shown again (the Save Database dialog lives as long as the window)
    // is handled again on its next showing.
    void forget(QWidget* dialog) { dialog->setProperty("driverSeen", false); }
    // The next Yes/No questions are answered with these (No when none is left).
    void answer(bool yes) { m_answers.push_back(yes); }

    QStringList messages;   // texts of information boxes, in order
    QStringList questions;  // texts of Yes/No boxes, in order
    QStringList titles;     // window titles of every box
    QList<QMessageBox::Icon> icons;

    void clear() {
        messages.clear();
        questions.clear();
        titles.clear();
        icons.clear();
    }

private:
    void poll();

    QTimer m_timer;
    std::deque<std::function<void(QWidget*)>> m_dialogs;
    std::deque<bool> m_answers;
};

}  // namespace dunmore::test
