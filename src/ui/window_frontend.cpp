#include "ui/window_frontend.h"

#include "ui/main_frame.h"

#include <QThread>

namespace dunmore::ui {

namespace {
QString text(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
}  // namespace

WindowFrontend::WindowFrontend(CMainFrame& window) : QObject(&window), m_window(window) {}

bool WindowFrontend::onWindowThread() const { return QThread::currentThread() == thread(); }

template <class F>
void WindowFrontend::post(F&& f) {
    if (onWindowThread())
        f();
    else
        QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::QueuedConnection);
}

template <class R, class F>
R WindowFrontend::ask(F&& f) {
    if (onWindowThread()) return f();
    R result{};
    // Queued behind every request the worker sent before; the worker waits for the answer.
    QMetaObject::invokeMethod(
        this, [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
}

void WindowFrontend::addOutputLine(std::string_view s) {
    post([this, t = text(s)] { m_window.appendOutputLine(t); });
}

void WindowFrontend::setCaption(std::string_view s) {
    post([this, t = text(s)] { m_window.setCaptionText(t); });
}

void WindowFrontend::setProgressRange(std::uint32_t upper) {
    post([this, upper] { m_window.setProgressRange(upper); });
}

void WindowFrontend::setProgressPosition(std::uint32_t pos) {
    m_position = pos;
    if (m_positionPending.exchange(true)) return;
    post([this] {
        m_positionPending = false;
        m_window.setProgressPosition(m_position.load());
    });
}

void WindowFrontend::showProgress(bool visible) {
    post([this, visible] { m_window.showProgressBar(visible); });
}

void WindowFrontend::showMessage(std::string_view s) {
    ask<bool>([this, t = text(s)] {
        m_window.workerWaits();
        m_window.messageBox(t);
        return true;
    });
}

bool WindowFrontend::askYesNo(std::string_view s) {
    return ask<bool>([this, t = text(s)] {
        m_window.workerWaits();
        return m_window.question(t);
    });
}

std::optional<std::string> WindowFrontend::chooseFile() {
    return ask<std::optional<std::string>>([this] {
        m_window.workerWaits();
        return m_window.chooseFile();
    });
}

void WindowFrontend::enableTree(bool enabled) {
    post([this, enabled] { m_window.setTreeEnabled(enabled); });
}

void WindowFrontend::resetRecordsPane() {
    post([this] { m_window.resetRecordsPane(); });
}

void WindowFrontend::clearOutput() {
    post([this] { m_window.clearOutput(); });
}

}  // namespace dunmore::ui
