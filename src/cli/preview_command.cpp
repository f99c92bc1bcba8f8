// `dunmore preview`: what the records pane shows for one tree item. A table shows one
// page of up to 1,000 rows (a line of column names, then one tab-separated line per
// row, NULL as \N; or one JSON document); page N is reached as N - 1 presses of Next
// Records would reach it, and a page past the last is an error. DB.NAME.Keys shows the
// table's column grid; a view or a trigger file shows its SQL text. The page goes to
// standard output, messages to standard error.
#include "cli/cli_session.h"
#include "cli/commands.h"
#include "core/file_name.h"
#include "cli/item_names.h"
#include "core/main_frame.h"
#include "core/scan.h"
#include "innodb/sdi_definition.h"
#include "output/preview_pages.h"
#include "schema/collation_table.h"
#include "schema/column_type.h"
#include "schema/frm_reader.h"
#include "schema/trigger_statements.h"
#include "schema/view_statement.h"
#include "values/sql_literal.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <limits>
#include <optional>

#include <cstdio>
#include <filesystem>

namespace dunmore::cli {

namespace {


constexpr std::uint32_t kEndMark = 0xFFFFFFFF;
constexpr std::size_t kPageRows = 1000;

// What one preview prints: a grid of named columns, or a text.
class PreviewOutput {
public:
    explicit PreviewOutput(PreviewFormat format) : m_format(format) {}

    void setHeader(std::vector<std::string> names) { m_header = std::move(names); }
    // A row; nullopt fields are SQL NULL.
    void addRow(std::vector<std::optional<std::string>> fields) { m_rows.push_back(std::move(fields)); }
    void setText(std::string kind, std::string text) {
        m_kind = std::move(kind);
        m_text = std::move(text);
    }
    void setPage(int page, std::uint64_t firstRow) {
        m_page = page;
        m_firstRow = firstRow;
    }

    void print(const std::string& item) const {
        if (m_format == PreviewFormat::Json) {
            nlohmann::json doc;
            doc["item"] = item;
            if (!m_kind.empty()) {
                doc["kind"] = m_kind;
                doc["text"] = m_text;
            } else {
                if (m_page > 0) {
                    doc["page"] = m_page;
                    doc["firstRow"] = m_firstRow;
                }
                doc["columns"] = m_header;
                doc["rows"] = nlohmann::json::array();
                for (const auto& row : m_rows) {
                    nlohmann::json r = nlohmann::json::array();
                    for (const auto& f : row) r.push_back(f ? nlohmann::json(*f) : nlohmann::json());
                    doc["rows"].push_back(std::move(r));
                }
            }
            const std::string text = doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
            std::printf("%s\n", text.c_str());
            return;
        }
        if (!m_kind.empty()) {
            std::fputs(m_text.c_str(), stdout);
            if (!m_text.empty() && m_text.back() != '\n') std::fputc('\n', stdout);
            return;
        }
        std::vector<std::optional<std::string>> header(m_header.begin(), m_header.end());
        printLine(header);
        for (const auto& row : m_rows) printLine(row);
    }

private:
    // Tab-separated like the mysql client's batch output: NULL as \N; tab, line feed,
    // carriage return, NUL and backslash as \t \n \r \0 \\.
    static void printLine(const std::vector<std::optional<std::string>>& fields) {
        std::string out;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i) out.push_back('\t');
            if (!fields[i]) {
                out += "\\N";
                continue;
            }
            for (char c : *fields[i]) {
                switch (c) {
                    case '\t': out += "\\t"; break;
                    case '\n': out += "\\n"; break;
                    case '\r': out += "\\r"; break;
                    case '\0': out += "\\0"; break;
                    case '\\': out += "\\\\"; break;
                    default: out.push_back(c);
                }
            }
        }
        out.push_back('\n');
        std::fwrite(out.data(), 1, out.size(), stdout);
    }

    PreviewFormat m_format;
    std::vector<std::string> m_header;
    std::vector<std::vector<std::optional<std::string>>> m_rows;
    std::string m_kind;
    std::string m_text;
    int m_page = 0;
    std::uint64_t m_firstRow = 0;
};

// What the preview reads: the scanned session.
using Preview = CliSession;

int printKeys(Preview& p, const core::TableEntry& table, PreviewOutput& out) {
    core::TableDefinitionState ctx;
    const auto read = innodb::readCatalogueTableDefinition(ctx, p.frame.catalogue, table, p.settings);
    out.setHeader({"Column Name", "Data Type", "size", "Allow Nulls", "Key Name"});
    if (!read.isOk()) {
        std::fprintf(stderr, "dunmore: %s\n", read.message().c_str());
        return 1;
    }
    for (const auto& c : ctx.columns)
        out.addRow({c.name, schema::columnTypeText(ctx.tableCharset, c, schema::applicationCollations()),
                    std::to_string(c.length), std::string(c.nullable == 1 ? "True" : "False"),
                    std::string(c.inPrimaryKey == 1  ? "Primary Key"
                                : c.inUniqueKey == 1 ? "Unique Key"
                                                     : "")});
    return 0;
}

// Reads the page that starts at the top of the page stack, as Next Records does.
void readNextPage(Preview& p) {
    core::TableReader& ctx = *p.frame.previewTable;
    const core::PagePosition top = ctx.pageStack.back();
    ctx.keepPositions = false;
    const std::size_t read = output::readPreviewPage(p.frame, top);
    if (read < kPageRows || !ctx.moreRows) ctx.pageStack.push_back({kEndMark, top.offset});
}

int printTablePage(Preview& p, const std::string& item, const core::TableEntry& table, int page,
                   PreviewOutput& out) {
    const auto read = output::loadFirstPreviewPage(p.frame, table);
    if (!read.isOk()) {
        std::fprintf(stderr, "dunmore: %s\n", read.message().c_str());
        return 1;
    }
    core::TableReader& ctx = *p.frame.previewTable;
    // Pages before the one asked for, as presses of Next Records reach them.
    std::uint64_t rowsBefore = 0;
    int shown = 1;
    for (; shown < page; ++shown) {
        if (ctx.pageStack.size() < 2 || ctx.pageStack.back().page == kEndMark) break;
        rowsBefore += ctx.previewRows.size();
        readNextPage(p);
        if (ctx.previewRows.empty()) break;
    }
    if (shown < page || (page > 1 && ctx.previewRows.empty())) {
        const std::uint64_t rows = rowsBefore + (shown < page ? ctx.previewRows.size() : 0);
        const std::uint64_t pages = std::max<std::uint64_t>(1, (rows + kPageRows - 1) / kPageRows);
        p.frontend.showMessage("No more records in table");
        std::fprintf(stderr, "dunmore: page %d is past the end of %s: it has %llu rows, %llu page%s of %zu\n",
                     page, item.c_str(), static_cast<unsigned long long>(rows),
                     static_cast<unsigned long long>(pages), pages == 1 ? "" : "s", kPageRows);
        return 2;
    }
    // What the records pane would draw: its own copy of the page.
    const auto snapshot = core::previewSnapshot(ctx);
    p.frontend.showPreview(snapshot);
    std::vector<std::string> header;
    for (const auto& c : snapshot->columns) header.push_back(c.name);
    out.setHeader(std::move(header));
    out.setPage(page, rowsBefore + 1);
    for (const auto& row : snapshot->rows) {
        std::vector<std::optional<std::string>> fields;
        for (const auto& c : row) {
            if (values::isSqlNull(c))
                fields.emplace_back(std::nullopt);
            else
                fields.emplace_back(c.value);
        }
        out.addRow(std::move(fields));
    }
    return 0;
}

// A page number from 1 up; 0 when text is not one.
int parsePage(const std::string& text) {
    int page = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), page);
    if (ec != std::errc() || end != text.data() + text.size() || page < 1) return 0;
    return page;
}

}  // namespace

int runPreview(const CommonOptions& options, const std::string& item, const std::string& pageText,
               PreviewFormat format) {
    const int page = parsePage(pageText);
    if (page == 0) {
        std::fprintf(stderr, "dunmore: --page takes a page number from 1 to %d, not '%s'\n",
                     std::numeric_limits<int>::max(), pageText.c_str());
        return 2;
    }
    Preview p(options);
    // Standard output holds the page alone: the output-pane lines are not shown.
    p.frontend.setQuietLines(true);
    p.frontend.setQuietMessages(true);
    if (const int status = p.scan(); status != 0) return status;
    p.frontend.setQuietMessages(false);
    const core::Catalogue& cat = p.frame.catalogue;
    const auto named = findNamedItem(p.frame, item, false);
    if (!named) {
        std::fprintf(stderr, "dunmore: no table, view or trigger file '%s' (see dunmore scan)\n",
                     item.c_str());
        return 2;
    }
    const std::int32_t tag = p.frame.tree.node(named->nodes.front()).tag;
    const std::size_t index = tag > 0 ? static_cast<std::size_t>(tag - 1) : 0;

    const std::string scanning = "Please wait while " + named->name + " folder is scanning.";
    p.frame.addOutputLine(scanning);
    p.frame.writeLog(scanning + "\r\n");
    PreviewOutput out(format);
    int status = 0;
    switch (named->kind) {
        case NamedItem::Kind::Table:
            status = printTablePage(p, item, cat.tables.at(index), page, out);
            break;
        case NamedItem::Kind::TableKeys: {
            const auto tableNode = p.frame.tree.parent(named->nodes.front());
            status = printKeys(p, cat.tables.at(static_cast<std::size_t>(p.frame.tree.node(tableNode).tag - 1)), out);
            break;
        }
        case NamedItem::Kind::View: {
            const std::string text = schema::viewStatement(cat, index);
            out.setText("view", text);
            status = text.empty() ? 1 : 0;
            break;
        }
        case NamedItem::Kind::Trigger: {
            const core::TriggerEntry& t = cat.triggers.at(index);
            const std::string path = core::joinPath(t.databaseFolder, t.fileName);
            std::string unused;
            out.setText("trigger", schema::triggerStatements(p.frame, t));
            status = !t.dictionaryTriggers.empty() || schema::readDefinitionLines(path, unused) ? 0 : 1;
            break;
        }
        case NamedItem::Kind::Database:
            std::fprintf(stderr, "dunmore: preview needs DB.NAME; '%s' is a database\n", item.c_str());
            return 2;
    }
    if ((page != 1) && named->kind != NamedItem::Kind::Table) {
        std::fprintf(stderr, "dunmore: --page applies to a table's rows only\n");
        return 2;
    }
    if (status != 2) out.print(item);
    p.frame.addOutputLine("Scanning process completed.");
    p.frame.writeLog("Scanning process completed.\r\n");
    return p.finish(status);
}

}  // namespace dunmore::cli
