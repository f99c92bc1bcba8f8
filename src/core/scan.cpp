// The data-folder scan: every subfolder of the data folder is a database; in each,
// .frm files are tables (first bytes FE 01) or views (first bytes "TYPE=VIEW") and .TRG
// files hold the triggers of one table. Only the first bytes of a .frm are read here.
// MySQL 8.0+ keeps no .frm: a tablespace (.ibd) whose page 0 carries the SDI flag in its
// space flags (FSP header offset 16, bit 14) holds its table's definition itself and is a
// table when no .frm of the same name is there; the auxiliary tablespaces of FULLTEXT
// indexes (fts_<16 hex digits>_...) are not tables. Its views and triggers are rows of
// the data dictionary in mysql.ibd at the top of the data folder, read through a hook.
#include "core/scan.h"

#include "core/byte_reader.h"
#include "core/file_name.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <memory>
#include <tuple>

namespace dunmore::core {

namespace fs = std::filesystem;

namespace {

constexpr char kSep = '/';
constexpr std::int32_t kImageTable = 0;
constexpr std::int32_t kImageKeys = 2;
constexpr std::int32_t kImageViews = 15;
constexpr std::int32_t kImageTrigger = 21;

std::string lowerAscii(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Names of the entries of folder in enumeration order; directories and others apart.
struct Listing {
    std::vector<std::string> directories;
    std::vector<std::string> files;
};

Listing listFolder(const std::string& folder) {
    Listing out;
    std::error_code ec;
    fs::directory_iterator it(folder.empty() ? "." : folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name == "." || name == "..") continue;
        std::error_code typeError;
        if (it->is_directory(typeError))
            out.directories.push_back(name);
        else
            out.files.push_back(name);
    }
    return out;
}

// Other: a definition whose first bytes are neither signature; DamagedView: one of those
// that still holds the query line of a view definition.
enum class FrmKind { Table, View, DamagedView, Other };

// View definitions are a few kilobytes of text; the query line is looked for this far.
constexpr std::size_t kViewSearchLength = 1 << 20;

FrmKind classifyFrm(const std::string& path) {
    ReadOnlyFile file;
    if (!file.open(path).isOk()) return FrmKind::Other;
    std::array<std::uint8_t, 10> head{};
    const std::size_t got = file.readAt(0, head);
    if (got >= 2 && head[0] == 0xFE && head[1] == 0x01) return FrmKind::Table;
    if (got >= 9 && asText(ByteSpan(head.data(), 9)) == "TYPE=VIEW") return FrmKind::View;
    const auto text = file.readVector(0, kViewSearchLength);
    if (asText(ByteSpan(text.data(), text.size())).find("\nquery=") != std::string_view::npos)
        return FrmKind::DamagedView;
    return FrmKind::Other;
}

constexpr std::uint64_t kFspSpaceFlagsOffset = 38 + 16;
constexpr std::uint32_t kFspFlagsSdi = 1u << 14;

bool carriesSdi(const std::string& path) {
    ReadOnlyFile file;
    if (!file.open(path).isOk()) return false;
    std::array<std::uint8_t, 4> flags{};
    if (file.readAt(kFspSpaceFlagsOffset, flags) != flags.size()) return false;
    ByteReader r(flags);
    return (r.u32be() & kFspFlagsSdi) != 0;
}

bool isFulltextAuxiliary(const std::string& base) {
    constexpr std::size_t kIdDigits = 16;
    if (base.size() < 4 + kIdDigits + 1 || lowerAscii(base.substr(0, 4)) != "fts_") return false;
    for (std::size_t i = 4; i < 4 + kIdDigits; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(base[i]))) return false;
    return base[4 + kIdDigits] == '_';
}

// The real name of an on-disk name; one that does not decode is kept and logged.
std::string shownName(MainFrame& frame, const std::string& onDisk) {
    if (auto decoded = decodeFileName(onDisk)) return std::move(*decoded);
    frame.writeLog("Name kept as it is on disk (not in the server's file-name encoding): " +
                   onDisk + "\r\n");
    return onDisk;
}

// The child of node with tag, created (text, tag, image) when there is none.
CheckTree::NodeId folderNode(CheckTree& tree, CheckTree::NodeId node, std::int32_t tag,
                             const char* text, std::int32_t image) {
    for (const CheckTree::NodeId child : tree.node(node).children)
        if (tree.node(child).tag == tag) return child;
    return tree.insertNode(node, text, tag, image);
}

void scanLine(MainFrame& frame, const std::string& line) {
    frame.addOutputLine(line);
    frame.writeLog(line + "\r\n");
}

// MySQL 8.0+ keeps views and triggers in its data dictionary (mysql.ibd) only: they join
// the catalogue and the tree under the databases they belong to, the triggers of one
// table as one entry, as a .TRG file would hold them.
void addDictionaryObjects(MainFrame& frame, const ScanHooks& hooks,
                          const std::vector<CheckTree::NodeId>& databaseNodes) {
    Catalogue& cat = frame.catalogue;
    CheckTree& tree = frame.tree;
    const std::string path = joinPath(cat.dataFolder, "mysql.ibd");
    std::error_code ec;
    if (!hooks.readDictionary || !fs::is_regular_file(path, ec)) return;
    scanLine(frame, "Processing mysql.ibd File (the data dictionary of MySQL 8)");
    DictionaryObjects objects = hooks.readDictionary(path);
    cat.dictionaryFile = path;
    for (const std::string& problem : objects.problems) scanLine(frame, path + ": " + problem);
    const auto databaseOf = [&](const std::string& schema) -> std::int64_t {
        for (std::size_t i = 0; i < cat.databaseFolders.size() && i < databaseNodes.size(); ++i)
            if (databaseNodes[i] != CheckTree::kNone && databaseName(cat.databaseFolders[i]) == schema)
                return static_cast<std::int64_t>(i);
        return -1;
    };
    std::size_t views = 0;
    for (DictionaryView& view : objects.views) {
        const std::int64_t db = databaseOf(view.schema);
        if (db < 0) {
            scanLine(frame, "View " + view.schema + "." + view.name +
                                " of mysql.ibd is not listed: its database has no folder");
            continue;
        }
        const auto viewsNode = folderNode(tree, databaseNodes[db], kTagViewsFolder, "Views", kImageViews);
        cat.dictionaryViews[cat.viewFiles.size()] = view;
        // Where its definition file would be: the jobs find its database by the folder.
        cat.viewFiles.push_back(joinPath(cat.databaseFolders[db], view.name + ".frm"));
        tree.insertNode(viewsNode, view.name, static_cast<std::int32_t>(cat.viewFiles.size()));
        ++views;
    }
    // One entry per table, its triggers in the order they fire.
    std::stable_sort(objects.triggers.begin(), objects.triggers.end(),
                     [](const DictionaryTrigger& a, const DictionaryTrigger& b) {
                         return std::tie(a.schema, a.table, a.event, a.timing, a.order) <
                                std::tie(b.schema, b.table, b.event, b.timing, b.order);
                     });
    std::size_t triggers = 0;
    for (std::size_t i = 0; i < objects.triggers.size();) {
        std::size_t end = i;
        while (end < objects.triggers.size() && objects.triggers[end].schema == objects.triggers[i].schema &&
               objects.triggers[end].table == objects.triggers[i].table)
            ++end;
        const DictionaryTrigger& first = objects.triggers[i];
        const std::int64_t db = databaseOf(first.schema);
        if (db < 0) {
            scanLine(frame, "Triggers of " + first.schema + "." + first.table +
                                " in mysql.ibd are not listed: its database has no folder");
        } else {
            const auto triggerNode =
                folderNode(tree, databaseNodes[db], kTagTriggerFolder, "Trigger", kImageTrigger);
            TriggerEntry entry{first.table + ".TRG", cat.databaseFolders[db], {}};
            entry.dictionaryTriggers.assign(objects.triggers.begin() + static_cast<std::ptrdiff_t>(i),
                                            objects.triggers.begin() + static_cast<std::ptrdiff_t>(end));
            triggers += entry.dictionaryTriggers.size();
            cat.triggers.push_back(std::move(entry));
            tree.insertNode(triggerNode, first.table, static_cast<std::int32_t>(cat.triggers.size()));
        }
        i = end;
    }
    scanLine(frame, "mysql.ibd: " + std::to_string(views) + " views and " + std::to_string(triggers) +
                        " triggers listed");
    if (objects.routines > 0)
        scanLine(frame, "mysql.ibd holds " + std::to_string(objects.routines) +
                            " stored procedures and functions; they are not saved");
}

void resetForScan(MainFrame& frame) {
    frame.frontend.clearOutput();
    frame.settings.outputLineCount = 0;
    frame.catalogue.clear();
    frame.tree.deleteAllNodes();
    frame.previewTable = std::make_unique<TableReader>();
    frame.frontend.resetRecordsPane();
    frame.context.closeSystemTablespace();
}

}  // namespace

std::string collapseSeparators(std::string path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == kSep && !out.empty() && out.back() == kSep) continue;
        out.push_back(c);
    }
    return out;
}

std::string joinPath(const std::string& folder, const std::string& name) {
    return collapseSeparators(folder + kSep + name);
}

std::string lastPathPart(const std::string& path) {
    const auto p = path.rfind(kSep);
    return p == std::string::npos ? path : path.substr(p + 1);
}

std::string tableFilePath(const Catalogue& catalogue, const TableEntry& table,
                          const std::string& suffix) {
    if (table.databaseIndex < 0 ||
        static_cast<std::size_t>(table.databaseIndex) >= catalogue.databaseFolders.size())
        return {};
    const std::string& folder = catalogue.databaseFolders[table.databaseIndex];
    const std::string exact = joinPath(folder, diskName(table) + suffix);
    std::error_code ec;
    if (fs::exists(exact, ec)) return exact;
    const std::string wanted = lowerAscii(diskName(table) + suffix);
    for (const std::string& name : listFolder(folder).files)
        if (lowerAscii(name) == wanted) return joinPath(folder, name);
    return exact;
}

void findDatabaseFolders(MainFrame& frame, const std::string& folder) {
    for (const std::string& name : listFolder(folder).directories)
        frame.catalogue.databaseFolders.push_back(joinPath(folder, name));
}

void scanDatabaseFolder(MainFrame& frame, const std::string& folder, CheckTree::NodeId tablesNode,
                        CheckTree::NodeId databaseNode, std::int32_t databaseIndex) {
    Catalogue& cat = frame.catalogue;
    CheckTree& tree = frame.tree;
    CheckTree::NodeId viewsNode = CheckTree::kNone;
    CheckTree::NodeId triggerNode = CheckTree::kNone;
    const Listing listing = listFolder(folder);
    std::vector<std::string> definitionFiles;
    for (const std::string& name : listing.files) {
        const std::string lower = lowerAscii(name);
        if (lower.size() > 4 && lower.ends_with(".frm"))
            definitionFiles.push_back(lower.substr(0, lower.size() - 4));
    }
    const auto addTable = [&](const std::string& base) {
        const std::string real = shownName(frame, base);
        cat.tables.push_back({real, databaseIndex, base});
        const auto node = tree.insertNode(tablesNode, real, static_cast<std::int32_t>(cat.tables.size()),
                                          kImageTable);
        tree.insertNode(node, "Keys", kTagKeys, kImageKeys);
    };
    for (const std::string& name : listing.files) {
        const auto dot = name.rfind('.');
        const std::string ext = dot == std::string::npos ? "" : lowerAscii(name.substr(dot + 1));
        const std::string base = name.size() >= 4 ? name.substr(0, name.size() - 4) : "";
        if (ext == "frm") {
            const std::string path = joinPath(folder, name);
            const FrmKind kind = classifyFrm(path);
            switch (kind) {
                case FrmKind::Table:
                    addTable(base);
                    break;
                case FrmKind::DamagedView:
                case FrmKind::View: {
                    if (viewsNode == CheckTree::kNone)
                        viewsNode = tree.insertNode(databaseNode, "Views", kTagViewsFolder, kImageViews);
                    cat.viewFiles.push_back(path);
                    const std::string shown = shownName(frame, base);
                    tree.insertNode(viewsNode, shown, static_cast<std::int32_t>(cat.viewFiles.size()));
                    if (kind == FrmKind::View) break;
                    const std::string line = "The definition file " + path +
                                             " does not begin as a view definition, but holds a view's "
                                             "query: it is listed as the view " + shown + ".";
                    frame.addOutputLine(line);
                    frame.writeLog(line + "\r\n");
                    break;
                }
                case FrmKind::Other: {
                    // A damaged definition: it may be the only file of its table (one kept
                    // in ibdata1), so the table is listed all the same and a save names it
                    // as not saved.
                    const std::string line =
                        "The definition file " + path +
                        " cannot be read: it begins neither as a table nor as a view definition; "
                        "its table is listed and cannot be saved.";
                    frame.addOutputLine(line);
                    frame.writeLog(line + "\r\n");
                    addTable(base);
                    break;
                }
            }
        } else if (ext == "ibd") {
            if (base.empty() || isFulltextAuxiliary(base) ||
                std::find(definitionFiles.begin(), definitionFiles.end(), lowerAscii(base)) !=
                    definitionFiles.end())
                continue;
            const std::string path = joinPath(folder, name);
            if (carriesSdi(path)) {
                addTable(base);
            } else if (definitionFiles.empty()) {
                // A folder of MySQL 8, whose tables have no .frm: a tablespace whose first
                // page does not show the SDI flag (damaged, cut short, or left by an older
                // server without its .frm) is still the only file of its table.
                const std::string line = "The tablespace " + path +
                                         " shows no SDI in its first page: its table is listed and "
                                         "cannot be saved.";
                frame.addOutputLine(line);
                frame.writeLog(line + "\r\n");
                addTable(base);
            }
        } else if (ext == "trg") {
            if (triggerNode == CheckTree::kNone)
                triggerNode = tree.insertNode(databaseNode, "Trigger", kTagTriggerFolder, kImageTrigger);
            cat.triggers.push_back({name, folder});
            tree.insertNode(triggerNode, shownName(frame, name.substr(0, dot)),
                            static_cast<std::int32_t>(cat.triggers.size()));
        }
    }
}

int scanWorker(MainFrame& frame, const ScanHooks& hooks) {
    AppSettings& settings = frame.settings;
    Catalogue& cat = frame.catalogue;
    CheckTree& tree = frame.tree;

    resetForScan(frame);
    cat.dataFolder = settings.chosenFolder;
    if (!cat.dataFolder.empty())
        frame.writeLog("MySql database File Path:\t" + cat.dataFolder + "\r\n");

    const auto root = tree.insertNode(CheckTree::kNone, "MYSQL database", kTagStructural);
    const auto dataNode = tree.insertNode(root, cat.dataFolder, kTagStructural);
    frame.addOutputLine("Finding Database and tables");
    findDatabaseFolders(frame, cat.dataFolder);

    std::vector<CheckTree::NodeId> databaseNodes;
    if (cat.databaseFolders.empty()) {
        // The data folder itself is the one database.
        std::string path = cat.dataFolder;
        while (!path.empty() && path.back() == kSep) path.pop_back();
        const auto sep = path.rfind(kSep);
        if (sep != std::string::npos) {
            cat.databaseFolders.push_back(path);
            const auto dbNode =
                tree.insertNode(dataNode, shownName(frame, path.substr(sep + 1)), kTagStructural);
            const auto tablesNode = tree.insertNode(dbNode, "Tables", kTagStructural);
            scanDatabaseFolder(frame, path, tablesNode, dbNode, 0);
            databaseNodes.push_back(dbNode);
        }
    } else {
        for (std::size_t i = 0; i < cat.databaseFolders.size(); ++i) {
            const std::string entry = cat.databaseFolders[i];
            const auto sep = entry.rfind(kSep);
            databaseNodes.push_back(CheckTree::kNone);
            if (sep == std::string::npos) continue;
            const auto dbNode =
                tree.insertNode(dataNode, shownName(frame, entry.substr(sep + 1)), kTagStructural);
            const auto tablesNode = tree.insertNode(dbNode, "Tables", kTagStructural);
            scanDatabaseFolder(frame, entry, tablesNode, dbNode, static_cast<std::int32_t>(i));
            databaseNodes.back() = dbNode;
        }
    }
    addDictionaryObjects(frame, hooks, databaseNodes);
    tree.expand(root);
    tree.expand(dataNode);
    // The window draws a copy: this worker goes on to ibdata1 and owns the tree until the
    // job ends.
    frame.frontend.showTree(std::make_shared<const CheckTree>(tree));

    frame.addOutputLine("Processing ibdata1 File");
    frame.writeLog("Processing ibdata1 File\r\n");
    const auto openTablespace = [&](const std::string& path) {
        if (hooks.openSystemTablespace) return hooks.openSystemTablespace(frame.context, path);
        auto file = std::make_shared<SystemTablespaceFile>();
        if (!file->file.open(path).isOk()) return false;
        frame.context.systemTablespace = std::move(file);
        return true;
    };
    if (!openTablespace(cat.dataFolder + "ibdata1")) {
        frame.writeLog("ibdata1 File cannot be open\r\n");
        if (frame.frontend.askYesNo(
                Question::BrowseSystemTablespace,
                "Ibdata1File Cannot be opened.Do you want to browse ibdata1 File Manually?")) {
            const auto chosen = frame.frontend.chooseFile();
            if (chosen && !chosen->empty() && !openTablespace(*chosen))
                frame.writeLog("Manually browse ibdata1 File cannot be open\r\n");
        }
    }

    frame.addOutputLine("scanning completed.");
    frame.frontend.showMessage("Scanning completed for selected database file(s)");
    frame.frontend.showProgress(false);
    const std::string done = "Scanning completed for selected database file(s).\r\n";
    frame.frontend.setCaption(done);
    frame.writeLog(done);
    // Last: a job admitted now finds this worker with nothing left to do.
    settings.busy = 0;
    return 1;
}

bool openCommand(MainFrame& frame, const std::function<bool()>& settingsDialog, ScanHooks hooks) {
    AppSettings& settings = frame.settings;
    if (settings.busy.load() != 0) {
        frame.frontend.showMessage(kPleaseWait);
        return false;
    }
    if (!settingsDialog || !settingsDialog()) return false;
    settings.busy = 1;
    frame.catalogue.openedPath = settings.chosenFolder;
    frame.tree.deleteAllNodes();
    frame.frontend.resetRecordsPane();
    frame.frontend.setCaption(frame.catalogue.openedPath);
    frame.frontend.showProgress(true);
    // A log that cannot be created is not reported here (the settings dialog checked
    // the folder); the jobs then name no log file.
    const Result<std::string> log = frame.logFile.open(settings.logFolder, currentLocalTime());
    settings.logFilePath = log ? *log : std::string();
    const std::string line = frame.catalogue.openedPath + " File is selected for recovery....";
    frame.addOutputLine(line);
    frame.writeLog(line + "\r\n");
    frame.runWorker([hooks = std::move(hooks)](MainFrame& f) { scanWorker(f, hooks); });
    return true;
}

}  // namespace dunmore::core
