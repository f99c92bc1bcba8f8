#include "cli/cli_session.h"

#include "core/scan.h"
#include "innodb_hook.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

namespace dunmore::cli {

namespace fs = std::filesystem;

namespace {

std::string withSeparator(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder.push_back('/');
    return folder;
}

}  // namespace

CliSession::CliSession(const CommonOptions& options)
    : frontend(options.ibdata1), frame(settings, frontend), m_options(options) {}

int CliSession::scan() {
    std::error_code ec;
    const fs::path data = m_options.dataDir;
    if (data.empty() || !fs::is_directory(data, ec) || ::access(data.c_str(), R_OK | X_OK) != 0) {
        std::fprintf(stderr, "dunmore: cannot read the data folder '%s'\n", m_options.dataDir.c_str());
        return 2;
    }
    const std::string logFolder = m_options.logFolder.empty() ? "." : m_options.logFolder;
    if (!fs::is_directory(logFolder, ec)) {
        std::fprintf(stderr, "dunmore: the log folder '%s' does not exist\n", logFolder.c_str());
        return 2;
    }
    // The data folder is only ever read: a log inside it would change the source.
    const fs::path dataReal = fs::weakly_canonical(fs::absolute(data), ec);
    const fs::path logReal = fs::weakly_canonical(fs::absolute(logFolder), ec);
    const auto rel = logReal.lexically_relative(dataReal);
    if (!rel.empty() && *rel.begin() != "..") {
        std::fprintf(stderr,
                     "dunmore: the log folder '%s' is inside the data folder, which is never "
                     "written to; choose another with --log-folder\n",
                     logFolder.c_str());
        return 2;
    }
    settings.chosenFolder = withSeparator(fs::absolute(data).lexically_normal().string());
    settings.tempFolder = settings.chosenFolder;
    settings.logFolder = withSeparator(fs::absolute(logFolder).lexically_normal().string());
    core::ScanHooks hooks;
    hooks.openSystemTablespace = openSystemTablespaceHook();
    if (!core::openCommand(frame, [] { return true; }, hooks)) return 2;
    frame.waitForJob();
    return 0;
}

int findTable(const core::Catalogue& catalogue, const std::string& db, const std::string& name) {
    for (std::size_t i = 0; i < catalogue.tables.size(); ++i) {
        const auto& t = catalogue.tables[i];
        if (t.name == name && t.databaseIndex >= 0 &&
            static_cast<std::size_t>(t.databaseIndex) < catalogue.databaseFolders.size() &&
            core::lastPathPart(catalogue.databaseFolders[t.databaseIndex]) == db)
            return static_cast<int>(i);
    }
    return -1;
}

}  // namespace dunmore::cli
