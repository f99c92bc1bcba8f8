// `dunmore scan`: the Open command on a data folder, then what it found as the tree names
// it, in a stable order: databases by name, in each its tables, views and trigger files
// by name. Each table line says its engine, row format, estimated rows, size on disk and
// the file that holds its rows. With --json the same is one JSON document on standard
// output and nothing else is printed there.
#include "cli/cli_session.h"
#include "cli/commands.h"
#include "cli/item_names.h"
#include "cli/table_report.h"
#include "core/scan.h"
#include "core/file_name.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace dunmore::cli {

namespace {

namespace fs = std::filesystem;
using NodeId = core::CheckTree::NodeId;

struct ScannedItem {
    std::string name;
    std::int32_t index = -1;  // into the catalogue list of its kind
};

struct ScannedDatabase {
    std::string name;
    std::string folder;
    std::vector<ScannedItem> tables, views, triggers;
};

std::vector<ScannedItem> sortedChildren(const core::CheckTree& tree, NodeId folder) {
    std::vector<ScannedItem> items;
    for (NodeId child : tree.node(folder).children) {
        const auto& n = tree.node(child);
        if (n.tag > 0) items.push_back({n.text, n.tag - 1});
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const ScannedItem& a, const ScannedItem& b) { return a.name < b.name; });
    return items;
}

std::vector<ScannedDatabase> sortedDatabases(const core::MainFrame& frame) {
    const core::CheckTree& tree = frame.tree;
    std::vector<ScannedDatabase> dbs;
    for (NodeId db : databaseNodes(tree)) {
        ScannedDatabase d;
        d.name = tree.node(db).text;
        for (NodeId folder : tree.node(db).children) {
            const auto& f = tree.node(folder);
            if (f.tag == core::kTagViewsFolder)
                d.views = sortedChildren(tree, folder);
            else if (f.tag == core::kTagTriggerFolder)
                d.triggers = sortedChildren(tree, folder);
            else
                d.tables = sortedChildren(tree, folder);
        }
        const auto& cat = frame.catalogue;
        if (!d.tables.empty()) {
            const auto& t = cat.tables.at(static_cast<std::size_t>(d.tables.front().index));
            d.folder = cat.databaseFolders.at(static_cast<std::size_t>(t.databaseIndex));
        }
        for (const auto& folderPath : cat.databaseFolders)
            if (d.folder.empty() && core::databaseName(folderPath) == d.name) d.folder = folderPath;
        dbs.push_back(std::move(d));
    }
    std::stable_sort(dbs.begin(), dbs.end(),
                     [](const ScannedDatabase& a, const ScannedDatabase& b) { return a.name < b.name; });
    return dbs;
}

std::string humanSize(std::uint64_t bytes) {
    const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024.0 && unit < 4) {
        value /= 1024.0;
        ++unit;
    }
    char buf[32];
    if (unit == 0)
        std::snprintf(buf, sizeof buf, "%llu B", static_cast<unsigned long long>(bytes));
    else
        std::snprintf(buf, sizeof buf, "%.1f %s", value, units[unit]);
    return buf;
}

// The path of a file under the data folder relative to it; other paths as they are.
std::string shownPath(const std::string& path, const std::string& dataFolder) {
    if (!dataFolder.empty() && path.starts_with(dataFolder)) return path.substr(dataFolder.size());
    return path;
}

struct TableLine {
    std::vector<std::string> cells;  // name, engine, row format, rows, size, file
    std::string problem;
};

TableLine tableLine(const std::string& name, const TableFacts& f, const std::string& dataFolder) {
    TableLine line;
    std::string rows = "-";
    if (f.estimatedRows)
        rows = "~" + std::to_string(*f.estimatedRows) + (*f.estimatedRows == 1 ? " row" : " rows");
    std::string file = f.rowsFile.empty() ? "-" : shownPath(f.rowsFile, dataFolder);
    if (f.partitionFiles.size() > 1) file += " and " + std::to_string(f.partitionFiles.size() - 1) + " more";
    if (f.inSystemTablespace)
        file += " (" + std::to_string(f.leafPages) + (f.leafPages == 1 ? " leaf page)" : " leaf pages)");
    std::string engine = f.engine.empty() ? "-" : f.engine;
    if (f.partitions > 0)
        engine += ", " + std::to_string(f.partitions) + (f.partitions == 1 ? " partition" : " partitions");
    line.cells = {name,
                  engine,
                  (f.rowFormat.empty() ? "-" : f.rowFormat) +
                      (f.serverVersion.empty() ? "" : " (" + f.serverVersion + ")"),
                  rows,
                  f.sizeBytes ? humanSize(*f.sizeBytes) : "-",
                  file};
    line.problem = f.problem;
    return line;
}

void printText(core::MainFrame& frame, const std::vector<ScannedDatabase>& dbs) {
    const core::Catalogue& cat = frame.catalogue;
    std::printf("\nData folder %s\n", cat.dataFolder.c_str());
    for (const auto& d : dbs) {
        std::printf("\n%s\n", d.name.c_str());
        if (!d.tables.empty()) {
            std::printf("  tables\n");
            std::vector<TableLine> lines;
            for (const auto& t : d.tables)
                lines.push_back(tableLine(t.name, readTableFacts(frame, cat.tables.at(t.index)),
                                          cat.dataFolder));
            std::vector<std::size_t> widths(6, 0);
            for (const auto& l : lines)
                for (std::size_t i = 0; i < l.cells.size(); ++i)
                    widths[i] = std::max(widths[i], l.cells[i].size());
            for (const auto& l : lines) {
                std::string text = "    ";
                for (std::size_t i = 0; i < l.cells.size(); ++i) {
                    std::string cell = l.cells[i];
                    // Counts and sizes line up on the right, the rest on the left.
                    const bool right = i == 3 || i == 4;
                    const std::string pad(widths[i] - cell.size(), ' ');
                    text += right ? pad + cell : cell + (i + 1 < l.cells.size() ? pad : "");
                    if (i + 1 < l.cells.size()) text += "  ";
                }
                if (!l.problem.empty()) text += "  (" + l.problem + ")";
                std::printf("%s\n", text.c_str());
            }
        }
        if (!d.views.empty()) {
            std::printf("  views\n");
            for (const auto& v : d.views) std::printf("    %s\n", v.name.c_str());
        }
        if (!d.triggers.empty()) {
            std::printf("  triggers\n");
            for (const auto& t : d.triggers) std::printf("    %s\n", t.name.c_str());
        }
    }
}

nlohmann::json jsonDocument(core::MainFrame& frame, const std::vector<ScannedDatabase>& dbs) {
    const core::Catalogue& cat = frame.catalogue;
    nlohmann::json doc;
    doc["dataFolder"] = cat.dataFolder;
    doc["systemTablespaceOpen"] = frame.context.systemTablespaceOpen();
    doc["logFile"] = frame.logFile.failed() ? nlohmann::json() : nlohmann::json(frame.settings.logFilePath);
    doc["databases"] = nlohmann::json::array();
    for (const auto& d : dbs) {
        nlohmann::json db;
        db["name"] = d.name;
        db["folder"] = d.folder;
        db["tables"] = nlohmann::json::array();
        for (const auto& t : d.tables) {
            const TableFacts f = readTableFacts(frame, cat.tables.at(t.index));
            nlohmann::json j;
            j["name"] = t.name;
            j["engine"] = f.engine.empty() ? nlohmann::json() : nlohmann::json(f.engine);
            j["rowFormat"] = f.rowFormat.empty() ? nlohmann::json() : nlohmann::json(f.rowFormat);
            if (!f.serverVersion.empty()) j["serverVersion"] = f.serverVersion;
            j["rowsFile"] = f.rowsFile.empty() ? nlohmann::json() : nlohmann::json(f.rowsFile);
            j["inSystemTablespace"] = f.inSystemTablespace;
            if (f.partitions > 0) {
                j["partitions"] = f.partitions;
                j["partitionFiles"] = f.partitionFiles;
            }
            j["sizeBytes"] = f.sizeBytes ? nlohmann::json(*f.sizeBytes) : nlohmann::json();
            j["estimatedRows"] = f.estimatedRows ? nlohmann::json(*f.estimatedRows) : nlohmann::json();
            if (f.engine == "InnoDB") {
                j["leafPages"] = f.leafPages;
                j["tableId"] = f.tableId == 0 ? nlohmann::json() : nlohmann::json(f.tableId);
                j["clusteredRoot"] = f.rootPage == 0 ? nlohmann::json() : nlohmann::json(f.rootPage);
            }
            j["problem"] = f.problem.empty() ? nlohmann::json() : nlohmann::json(f.problem);
            db["tables"].push_back(std::move(j));
        }
        db["views"] = nlohmann::json::array();
        for (const auto& v : d.views)
            db["views"].push_back({{"name", v.name},
                                   {"file", cat.dictionaryViews.count(v.index) ? cat.dictionaryFile
                                                                               : cat.viewFiles.at(v.index)}});
        db["triggers"] = nlohmann::json::array();
        for (const auto& t : d.triggers) {
            const core::TriggerEntry& e = cat.triggers.at(t.index);
            db["triggers"].push_back({{"name", t.name},
                                      {"file", e.dictionaryTriggers.empty()
                                                   ? core::joinPath(e.databaseFolder, e.fileName)
                                                   : cat.dictionaryFile}});
        }
        doc["databases"].push_back(std::move(db));
    }
    return doc;
}

}  // namespace

int runScan(const CommonOptions& options, bool json) {
    CliSession session(options);
    session.frontend.setQuietMessages(true);
    session.frontend.setQuietLines(json);
    if (const int status = session.scan(); status != 0) return status;
    const std::vector<ScannedDatabase> dbs = sortedDatabases(session.frame);
    if (json) {
        const std::string text = jsonDocument(session.frame, dbs)
                                     .dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
        std::printf("%s\n", text.c_str());
        return session.finish(0);
    }
    printText(session.frame, dbs);
    // Only a log that holds the scan is named.
    if (!session.frame.logFile.failed())
        std::printf("\nLog file: %s\n", session.settings.logFilePath.c_str());
    return session.finish(0);
}

}  // namespace dunmore::cli
