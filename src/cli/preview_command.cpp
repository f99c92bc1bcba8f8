// `dunmore preview`: what the records pane shows for one tree item. A table shows one
// page of up to 1,000 rows (a line of column names, then one tab-separated line per
// row); page N is reached as N - 1 presses of Next Records would reach it. DB.NAME.Keys
// shows the table's column grid; a view or a trigger file shows its SQL text. The page
// goes to standard output, messages to standard error.
#include "cli/cli_session.h"
#include "cli/commands.h"
#include "core/file_name.h"
#include "core/main_frame.h"
#include "core/scan.h"
#include "innodb/sdi_definition.h"
#include "output/preview_pages.h"
#include "schema/collation_table.h"
#include "schema/column_type.h"
#include "schema/frm_reader.h"
#include "schema/trigger_statements.h"
#include "schema/view_statement.h"

#include <cstdio>
#include <filesystem>

namespace dunmore::cli {

namespace {


constexpr std::uint32_t kEndMark = 0xFFFFFFFF;
constexpr std::size_t kPageRows = 1000;

// A value on one line: tab, line feed, carriage return and backslash as \t \n \r \\.
void printField(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\\': out += "\\\\"; break;
            default: out.push_back(c);
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
}

void printLine(const std::vector<std::string>& fields) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i) std::fputc('\t', stdout);
        printField(fields[i]);
    }
    std::fputc('\n', stdout);
}

// What the preview reads: the scanned session.
using Preview = CliSession;

int printKeys(Preview& p, const core::TableEntry& table) {
    core::RecoveryContext& ctx = p.frame.context;
    const auto read = innodb::readCatalogueTableDefinition(ctx, p.frame.catalogue, table, p.settings);
    printLine({"Column Name", "Data Type", "size", "Allow Nulls", "Key Name"});
    if (!read.isOk()) {
        std::fprintf(stderr, "dunmore: %s\n", read.message().c_str());
        return 1;
    }
    for (const auto& c : ctx.columns)
        printLine({c.name, schema::columnTypeText(ctx.tableCharset, c, schema::applicationCollations()),
                   std::to_string(c.length), c.nullable == 1 ? "True" : "False",
                   c.inPrimaryKey == 1 ? "Primary Key" : c.inUniqueKey == 1 ? "Unique Key" : ""});
    return 0;
}

// Reads the page that starts at the top of the page stack, as Next Records does.
void readNextPage(Preview& p) {
    core::RecoveryContext& ctx = p.frame.context;
    const core::PagePosition top = ctx.pageStack.back();
    ctx.keepPositions = false;
    const std::size_t read = output::readPreviewPage(p.frame, top);
    if (read < kPageRows || !ctx.moreRows) ctx.pageStack.push_back({kEndMark, top.offset});
}

int printTablePage(Preview& p, const core::TableEntry& table, int page) {
    core::RecoveryContext& ctx = p.frame.context;
    const auto read = output::loadFirstPreviewPage(p.frame, table);
    if (!read.isOk()) {
        std::fprintf(stderr, "dunmore: %s\n", read.message().c_str());
        return 1;
    }
    bool past = false;
    for (int i = 1; i < page && !past; ++i) {
        if (ctx.pageStack.size() < 2 || ctx.pageStack.back().page == kEndMark) {
            past = true;
            break;
        }
        readNextPage(p);
    }
    // What the records pane would draw: its own copy of the page.
    const auto snapshot = core::previewSnapshot(ctx);
    p.frontend.showPreview(snapshot);
    std::vector<std::string> header;
    for (const auto& c : snapshot->columns) header.push_back(c.name);
    printLine(header);
    if (past) {
        p.frontend.showMessage("No more records in table");
        return 0;
    }
    for (const auto& row : snapshot->rows) {
        std::vector<std::string> fields;
        for (const auto& c : row) fields.push_back(c.value);
        printLine(fields);
    }
    if (page > 1 && ctx.pageStack.back().page == kEndMark) p.frontend.showMessage("No more records in table");
    return 0;
}

}  // namespace

int runPreview(const CommonOptions& options, const std::string& item, int page) {
    Preview p(options);
    // Standard output holds the page alone: the output-pane lines are not shown.
    p.frontend.setQuietLines(true);
    p.frontend.setQuietMessages(true);
    if (const int status = p.scan(); status != 0) return status;
    p.frontend.setQuietMessages(false);
    const core::Catalogue& cat = p.frame.catalogue;
    const auto dot = databaseDot(cat, item);
    if (dot == std::string::npos) {
        std::fprintf(stderr, "dunmore: preview needs DB.NAME, not '%s'\n", item.c_str());
        return 2;
    }
    const std::string db = item.substr(0, dot);
    std::string name = item.substr(dot + 1);
    const auto inDb = [&](const std::string& folder) { return core::databaseName(folder) == db; };

    const std::string scanning = "Please wait while " + name + " folder is scanning.";
    p.frame.addOutputLine(scanning);
    p.frame.writeLog(scanning + "\r\n");
    int status = -1;
    constexpr std::string_view kKeys = ".Keys";
    if (const int t = findTable(cat, db, name); t >= 0) {
        status = printTablePage(p, cat.tables[t], page);
    } else if (name.size() > kKeys.size() && name.ends_with(kKeys)) {
        const int k = findTable(cat, db, name.substr(0, name.size() - kKeys.size()));
        if (k >= 0) status = printKeys(p, cat.tables[k]);
    }
    for (const auto& path : cat.viewFiles) {
        if (status >= 0) break;
        const std::string file = core::lastPathPart(path);
        const std::string folder = path.substr(0, path.size() - file.size());
        if (core::realName(file.substr(0, file.rfind('.'))) == name &&
            inDb(folder.substr(0, folder.size() - 1))) {
            const std::string text = schema::viewStatement(path);
            std::printf("%s\n", text.c_str());
            status = text.empty() ? 1 : 0;
        }
    }
    for (const auto& t : cat.triggers) {
        if (status >= 0) break;
        if (t.fileName == name && inDb(t.databaseFolder)) {
            const std::string path = core::joinPath(t.databaseFolder, t.fileName);
            std::string unused;
            std::fputs(schema::triggerStatements(p.frame, path).c_str(), stdout);
            status = schema::readDefinitionLines(path, unused) ? 0 : 1;
        }
    }
    if (status < 0) {
        std::fprintf(stderr, "dunmore: no table, view or trigger file '%s'\n", item.c_str());
        return 2;
    }
    p.frame.addOutputLine("Scanning process completed.");
    p.frame.writeLog("Scanning process completed.\r\n");
    return p.finish(status);
}

}  // namespace dunmore::cli
