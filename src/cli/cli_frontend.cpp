#include "cli/cli_frontend.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

namespace dunmore::cli {

CliFrontend::CliFrontend(std::string ibdata1)
    : m_ibdata1(std::move(ibdata1)), m_terminal(::isatty(STDERR_FILENO) == 1) {}

void CliFrontend::clearProgressLine() {
    if (m_progressShown) {
        std::fputs("\r\033[K", stderr);
        m_progressShown = false;
    }
}

namespace {

constexpr std::string_view kCreatingScript = "Creating Script File For Database ";
constexpr std::string_view kProcessingTable = "Processing Table ";

std::string duration(double seconds) {
    const auto s = static_cast<long long>(seconds + 0.5);
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%lldh %02lldm", s / 3600, s / 60 % 60);
    else if (s >= 60)
        std::snprintf(buf, sizeof buf, "%lldm %02llds", s / 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%llds", s);
    return buf;
}

}  // namespace

void CliFrontend::trackSave(const core::ScriptWriter& writer,
                            std::map<std::string, std::uint64_t> tableBytes) {
    m_writer = &writer;
    m_tableBytes = std::move(tableBytes);
    m_totalBytes = 0;
    for (const auto& [name, bytes] : m_tableBytes) m_totalBytes += bytes;
    m_doneBytes = 0;
    m_started = std::chrono::steady_clock::now();
}

void CliFrontend::drawSaveProgress(bool force) {
    if (!m_terminal || !m_writer || m_table.empty()) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastDraw < std::chrono::milliseconds(100)) return;
    m_lastDraw = now;
    const auto it = m_tableBytes.find(m_table);
    const std::uint64_t weight = it == m_tableBytes.end() ? 0 : it->second;
    const double within = m_upper == 0 ? 0.0 : std::min(1.0, static_cast<double>(m_position) / m_upper);
    const double share =
        m_totalBytes == 0 ? 0.0
                          : std::min(1.0, (static_cast<double>(m_doneBytes) + within * weight) / m_totalBytes);
    const double elapsed = std::chrono::duration<double>(now - m_started).count();
    std::string line = "\r\033[KSaving " + m_table + ": " +
                       std::to_string(m_writer->rowsWritten() - m_tableRowsStart) + " rows, " +
                       std::to_string(static_cast<int>(share * 100)) + "% of the save";
    if (share > 0.0)
        line += ", about " + duration(elapsed * (1.0 - share) / share) + " left";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    m_progressShown = true;
}

void CliFrontend::addOutputLine(std::string_view text) {
    if (m_writer) {
        if (text.starts_with(kCreatingScript)) {
            m_database = std::string(text.substr(kCreatingScript.size()));
        } else if (text.starts_with(kProcessingTable)) {
            if (const auto it = m_tableBytes.find(m_table); it != m_tableBytes.end())
                m_doneBytes += it->second;
            m_table = m_database + "." + std::string(text.substr(kProcessingTable.size()));
            m_tableRowsStart = m_writer->rowsWritten();
            m_upper = 0;
            m_position = 0;
        }
    }
    if (m_quietLines) return;
    clearProgressLine();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    drawSaveProgress(true);
}

void CliFrontend::setCaption(std::string_view) {}

void CliFrontend::setProgressRange(std::uint64_t upper) {
    m_upper = upper;
    m_lastPercent = -1;
}

void CliFrontend::setProgressPosition(std::uint64_t pos) {
    if (m_writer) {
        m_position = pos;
        drawSaveProgress(false);
        return;
    }
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
