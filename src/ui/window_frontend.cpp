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

void WindowFrontend::setProgressRange(std::uint64_t upper) {
    post([this, upper] { m_window.setProgressRange(upper); });
}

void WindowFrontend::setProgressPosition(std::uint64_t pos) {
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
        m_window.messageBox(t);
        return true;
    });
}

bool WindowFrontend::askYesNo(core::Question kind, std::string_view s) {
    return ask<bool>([this, kind, t = text(s)] { return m_window.question(kind, t); });
}

std::optional<std::string> WindowFrontend::chooseFile() {
    return ask<std::optional<std::string>>([this] {
        return m_window.chooseFile();
    });
}

void WindowFrontend::enableTree(bool enabled) {
    post([this, enabled] { m_window.setTreeEnabled(enabled); });
}

void WindowFrontend::showTree(std::shared_ptr<const core::CheckTree> tree) {
    post([this, tree = std::move(tree)] { m_window.showTreeSnapshot(tree); });
}

void WindowFrontend::resetRecordsPane() {
    post([this] { m_window.resetRecordsPane(); });
}

void WindowFrontend::clearOutput() {
    post([this] { m_window.clearOutput(); });
}

}  // namespace dunmore::ui
