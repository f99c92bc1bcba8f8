#include "cli/cli_frontend.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace dunmore::cli {

CliFrontend::CliFrontend(std::string ibdata1)
    : m_ibdata1(std::move(ibdata1)), m_terminal(::isatty(STDERR_FILENO) == 1) {}

void CliFrontend::clearProgressLine() {
    if (m_progressShown) {
        std::fputs("\r\033[K", stderr);
        m_progressShown = false;
    }
}

void CliFrontend::addOutputLine(std::string_view text) {
    if (m_quietLines) return;
    clearProgressLine();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void CliFrontend::setCaption(std::string_view) {}

void CliFrontend::setProgressRange(std::uint64_t upper) {
    m_upper = upper;
    m_lastPercent = -1;
}

void CliFrontend::setProgressPosition(std::uint64_t pos) {
    if (!m_terminal || m_upper == 0) return;
    // pos * 100 would overflow near the top of the 64-bit range: divide first there.
    const std::uint64_t capped = pos > m_upper ? m_upper : pos;
    const int percent = static_cast<int>(m_upper > UINT64_MAX / 100 ? capped / (m_upper / 100)
                                                                    : capped * 100 / m_upper);
    if (percent == m_lastPercent) return;
    m_lastPercent = percent;
    std::fprintf(stderr, "\r%3d%%", percent);
    std::fflush(stderr);
    m_progressShown = true;
}

void CliFrontend::showProgress(bool visible) {
    if (!visible) clearProgressLine();
}

void CliFrontend::showMessage(std::string_view text) {
    clearProgressLine();
    if (m_quietMessages) return;
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
}

bool CliFrontend::askYesNo(core::Question kind, std::string_view) {
    return kind == core::Question::BrowseSystemTablespace && !m_ibdata1.empty();
}

std::optional<std::string> CliFrontend::chooseFile() {
    if (m_ibdata1.empty()) return std::nullopt;
    return m_ibdata1;
}

}  // namespace dunmore::cli
