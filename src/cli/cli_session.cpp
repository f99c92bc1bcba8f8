#include "cli/cli_session.h"

#include "core/file_name.h"
#include "cli/item_names.h"
#include "core/scan.h"
#include "innodb_hook.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace dunmore::cli {

namespace fs = std::filesystem;

namespace {

std::atomic<std::uint8_t>* g_stopFlag = nullptr;

extern "C" void onInterrupt(int) {
    if (g_stopFlag && g_stopFlag->load() == 0) {
        g_stopFlag->store(1);
        return;
    }
    std::_Exit(130);
}

std::string withSeparator(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder.push_back('/');
    return folder;
}

// $XDG_STATE_HOME/dunmore, or ~/.local/state/dunmore when it is unset or not absolute;
// empty when neither can be found.
std::string stateLogFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state == '/') return (fs::path(state) / "dunmore").string();
    const char* home = std::getenv("HOME");
    if (home && *home == '/') return (fs::path(home) / ".local" / "state" / "dunmore").string();
    return {};
}

}  // namespace

int CliSession::finish(int status) const {
    if (!frame.logFile.failed()) return status;
    std::fprintf(stderr, "dunmore: the log file %s could not be written\n",
                 settings.logFilePath.empty() ? settings.logFolder.c_str() : settings.logFilePath.c_str());
    return status == 0 ? 1 : status;
}

CliSession::CliSession(const CommonOptions& options)
    : frontend(options.ibdata1), frame(settings, frontend), m_options(options) {}

int CliSession::scan() {
    std::error_code ec;
    const fs::path data = m_options.dataDir;
    if (data.empty() || !fs::is_directory(data, ec) || ::access(data.c_str(), R_OK | X_OK) != 0) {
        std::fprintf(stderr, "dunmore: cannot read the data folder '%s'\n", m_options.dataDir.c_str());
        return 2;
    }
    std::string logFolder = m_options.logFolder;
    if (logFolder.empty()) {
        logFolder = m_options.defaultLogFolder.empty() ? stateLogFolder() : m_options.defaultLogFolder;
        if (logFolder.empty()) {
            std::fprintf(stderr, "dunmore: no log folder: HOME is not set; choose one with --log-folder\n");
            return 2;
        }
        fs::create_directories(logFolder, ec);
    }
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
    hooks.readDictionary = readDictionaryHook();
    if (!core::openCommand(frame, [] { return true; }, hooks)) return 2;
    frame.waitForJob();
    return 0;
}

InterruptAsStop::InterruptAsStop(std::atomic<std::uint8_t>& flag) {
    g_stopFlag = &flag;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &m_previous);
}

InterruptAsStop::~InterruptAsStop() {
    sigaction(SIGINT, &m_previous, nullptr);
    g_stopFlag = nullptr;
}

bool checkItems(core::MainFrame& frame, const std::vector<std::string>& items) {
    if (items.empty()) {
        for (auto root : frame.tree.roots()) frame.tree.setCheck(root, true);
        return true;
    }
    for (const std::string& item : items) {
        const auto named = findNamedItem(frame, item, true);
        if (!named) {
            std::fprintf(stderr, "dunmore: no database, table, view or trigger file '%s' (see dunmore scan)\n",
                         item.c_str());
            return false;
        }
        for (const auto node : named->nodes) frame.tree.setCheck(node, true);
    }
    return true;
}

std::size_t databaseDot(const core::Catalogue& catalogue, const std::string& item) {
    for (const auto& folder : catalogue.databaseFolders)
        if (core::databaseName(folder) == item) return std::string::npos;
    for (auto dot = item.find('.'); dot != std::string::npos; dot = item.find('.', dot + 1))
        for (const auto& folder : catalogue.databaseFolders)
            if (core::databaseName(folder) == item.substr(0, dot)) return dot;
    return item.find('.');
}

int findTable(const core::Catalogue& catalogue, const std::string& db, const std::string& name) {
    for (std::size_t i = 0; i < catalogue.tables.size(); ++i) {
        const auto& t = catalogue.tables[i];
        if (t.name == name && t.databaseIndex >= 0 &&
            static_cast<std::size_t>(t.databaseIndex) < catalogue.databaseFolders.size() &&
            core::databaseName(catalogue.databaseFolders[t.databaseIndex]) == db)
            return static_cast<int>(i);
    }
    return -1;
}

}  // namespace dunmore::cli
