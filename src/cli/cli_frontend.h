#pragma once

#include "core/frontend.h"

#include <cstdint>
#include <optional>
#include <string>

namespace dunmore::cli {

// The terminal front end: output lines to standard output, message-box texts to
// standard error, progress on standard error only when it is a terminal. Questions are
// answered No, except the ibdata1 browse question, answered Yes when --ibdata1 is given.
class CliFrontend : public core::Frontend {
public:
    explicit CliFrontend(std::string ibdata1 = {});

    void addOutputLine(std::string_view text) override;
    void setCaption(std::string_view text) override;
    void setProgressRange(std::uint64_t upper) override;
    void setProgressPosition(std::uint64_t pos) override;
    void showProgress(bool visible) override;
    void showMessage(std::string_view text) override;
    bool askYesNo(core::Question kind, std::string_view text) override;
    std::optional<std::string> chooseFile() override;
    void enableTree(bool) override {}

    // Messages are printed to standard error unless quiet (tests of the plain output).
    void setQuietMessages(bool quiet) { m_quietMessages = quiet; }
    // Output lines are not printed (commands whose standard output is a result, such as
    // schema and preview, while they scan).
    void setQuietLines(bool quiet) { m_quietLines = quiet; }

private:
    void clearProgressLine();

    std::string m_ibdata1;
    bool m_terminal = false;
    bool m_progressShown = false;
    bool m_quietMessages = false;
    bool m_quietLines = false;
    std::uint64_t m_upper = 0;
    int m_lastPercent = -1;
};

}  // namespace dunmore::cli
