#pragma once

#include "core/frontend.h"

#include <QObject>

#include <atomic>
#include <cstdint>

namespace dunmore::ui {

class CMainFrame;

// The jobs' Frontend for the window. Called on the window's thread (the preview, the
// commands) it acts at once. Called on a job's worker thread, every request is posted to
// the window's thread, so requests are carried out there in the order sent; message
// boxes, questions and the file chooser block the worker until the person has answered.
// Progress positions are folded: the bar shows the last position set, without one event
// per row.
class WindowFrontend : public QObject, public core::Frontend {
    Q_OBJECT
public:
    explicit WindowFrontend(CMainFrame& window);

    void addOutputLine(std::string_view text) override;
    void setCaption(std::string_view text) override;
    void setProgressRange(std::uint64_t upper) override;
    void setProgressPosition(std::uint64_t pos) override;
    void showProgress(bool visible) override;
    void showMessage(std::string_view text) override;
    bool askYesNo(core::Question kind, std::string_view question) override;
    std::optional<std::string> chooseFile() override;
    void enableTree(bool enabled) override;
    void showTree(std::shared_ptr<const core::CheckTree> tree) override;
    void resetRecordsPane() override;
    void clearOutput() override;

private:
    bool onWindowThread() const;
    template <class F>
    void post(F&& f);
    template <class R, class F>
    R ask(F&& f);

    CMainFrame& m_window;
    std::atomic<std::uint64_t> m_position{0};
    std::atomic<bool> m_positionPending{false};
};

}  // namespace dunmore::ui
