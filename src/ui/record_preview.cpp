#include "ui/record_preview.h"

#include "core/scan.h"
#include "innodb/sdi_definition.h"
#include "output/preview_pages.h"
#include "schema/collation_table.h"
#include "schema/column_type.h"
#include "schema/frm_reader.h"
#include "schema/trigger_statements.h"
#include "schema/view_statement.h"
#include "ui/kestrel_static.h"
#include "ui/records_model.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QTableView>
#include <QToolButton>

namespace dunmore::ui {

namespace {

constexpr std::uint32_t kEndMark = 0xFFFFFFFF;
constexpr std::size_t kPageRows = 1000;

QString text(const std::string& s) { return QString::fromStdString(s); }

bool samePosition(const core::PagePosition& a, const core::PagePosition& b) {
    return a.page == b.page && a.offset == b.offset && a.partition == b.partition;
}

}  // namespace

bool RecordPreview::admit() {
    if (m_frame.settings.busy.load() != 0) {
        m_host.showMessage(text(std::string(core::kPleaseWait)));
        return false;
    }
    m_frame.settings.busy = 1;
    m_host.showProgress(true);
    return true;
}

void RecordPreview::finishPaging() {
    m_frame.settings.busy = 0;
    m_host.showProgress(false);
}

void RecordPreview::onTreeItemClicked(core::CheckTree::NodeId item) {
    core::AppSettings& settings = m_frame.settings;
    if (settings.busy.load() != 0) {
        m_host.reselect(m_currentItem);
        m_host.showMessage(text(std::string(core::kPleaseWait)));
        return;
    }
    const core::CheckTree& tree = m_frame.tree;
    if (!tree.valid(item)) return;
    settings.busy = 1;
    m_currentItem = item;

    m_pane.textView()->clear();
    m_pane.label()->clear();
    const std::string name = tree.node(item).text;
    m_host.setCaption(text(name));
    const std::string scanning = "Please wait while " + name + " folder is scanning.";
    m_frame.addOutputLine(scanning);
    m_frame.writeLog(scanning + "\r\n");

    m_host.showProgress(true);
    m_pane.showList();
    settings.savingScript = false;
    settings.savingToServer = false;
    m_host.setTreeEnabled(false);

    // The table shown before closes its files.
    m_frame.previewTable = std::make_unique<core::TableReader>();

    m_pane.previousButton()->show();
    m_pane.nextButton()->show();
    m_pane.nextButton()->setEnabled(true);
    m_pane.previousButton()->setEnabled(false);
    m_firstRow = m_lastRow = 0;
    m_savedPageStart = {};
    m_savedStackSize = 0;

    m_pane.records()->clear();

    const std::int32_t d = tree.node(item).tag;
    const core::CheckTree::NodeId parent = tree.parent(item);
    if (d == core::kTagKeys) showColumnGrid(item);

    const std::int32_t index = d > 0 ? d - 1 : d;
    const std::int32_t parentTag = tree.valid(parent) ? tree.node(parent).tag : 0;
    const core::Catalogue& cat = m_frame.catalogue;
    if (parentTag == core::kTagViewsFolder) {
        if (index >= 0 && static_cast<std::size_t>(index) < cat.viewFiles.size())
            m_pane.showText(text(schema::viewStatement(cat, static_cast<std::size_t>(index))));
    } else if (parentTag == core::kTagTriggerFolder) {
        if (index >= 0 && static_cast<std::size_t>(index) < cat.triggers.size()) {
            const auto& trigger = cat.triggers[index];
            m_pane.showText(text(schema::triggerStatements(m_frame, trigger)));
        }
    } else if (index >= 0 && static_cast<std::size_t>(index) < cat.tables.size()) {
        loadFirstPage(cat.tables[index]);
    }

    if (m_pane.records()->rowCount() == 0) {
        m_pane.previousButton()->setEnabled(false);
        m_pane.nextButton()->setEnabled(false);
    }
    m_host.showProgress(false);
    settings.busy = 0;
    m_host.setTreeEnabled(true);
    m_frame.addOutputLine("Scanning process completed.");
    m_frame.writeLog("Scanning process completed.\r\n");
}

void RecordPreview::showColumnGrid(core::CheckTree::NodeId item) {
    const core::CheckTree& tree = m_frame.tree;
    const core::CheckTree::NodeId tableItem = tree.parent(item);
    if (!tree.valid(tableItem)) return;
    const std::int32_t index = tree.node(tableItem).tag - 1;
    const core::Catalogue& cat = m_frame.catalogue;
    if (index < 0 || static_cast<std::size_t>(index) >= cat.tables.size()) return;
    core::TableDefinitionState ctx;
    m_pane.records()->setColumns({"Column Name", "Data Type", "size", "Allow Nulls", "Key Name"});
    m_pane.applyColumnWidths();
    std::vector<QStringList> rows;
    const auto read = innodb::readCatalogueTableDefinition(ctx, cat, cat.tables[index], m_frame.settings);
    if (read.isOk()) {
        for (const auto& c : ctx.columns)
            rows.push_back(
                {text(c.name),
                 text(schema::columnTypeText(ctx.tableCharset, c, schema::applicationCollations())),
                 QString::number(c.length), c.nullable == 1 ? "True" : "False",
                 c.inPrimaryKey == 1   ? "Primary Key"
                 : c.inUniqueKey == 1 ? "Unique Key"
                                      : ""});
    }
    const auto count = rows.size();
    m_pane.records()->setRows(std::move(rows));
    if (count > 1)
        m_host.setCaption(QString::asprintf("%s[%d]", tree.node(item).text.c_str(),
                                            static_cast<int>(count)));
    else
        m_host.setCaption(QString());
}

void RecordPreview::loadFirstPage(const core::TableEntry& table) {
    (void)output::loadFirstPreviewPage(m_frame, table);
    const core::TableReader& ctx = *m_frame.previewTable;
    QStringList headings;
    for (const auto& c : ctx.columns) headings << text(c.name);
    m_pane.records()->setColumns(headings);
    m_pane.applyColumnWidths();
    showPreviewRows();
    m_firstRow = 0;
    m_lastRow = static_cast<std::int64_t>(ctx.previewRows.size());
    const core::CheckTree::NodeId item = m_currentItem;
    m_host.setCaption(QString::asprintf("%s[%lld]", m_frame.tree.node(item).text.c_str(),
                                        static_cast<long long>(m_lastRow)));
}

void RecordPreview::showPreviewRows() {
    // The records pane keeps its own copy of the page.
    const auto page = core::previewSnapshot(*m_frame.previewTable);
    std::vector<QStringList> rows;
    rows.reserve(page->rows.size());
    for (const auto& row : page->rows) {
        QStringList fields;
        fields.reserve(static_cast<qsizetype>(row.size()));
        for (const auto& c : row) fields << text(c.value);
        rows.push_back(std::move(fields));
    }
    m_pane.records()->setRows(std::move(rows));
}

std::size_t RecordPreview::readPage(const core::PagePosition& position) {
    const std::size_t read = output::readPreviewPage(m_frame, position);
    showPreviewRows();
    return read;
}

void RecordPreview::onNextRecords() {
    if (!admit()) return;
    core::TableReader& ctx = *m_frame.previewTable;
    auto& stack = ctx.pageStack;
    if (stack.size() < 2) {
        m_pane.nextButton()->setEnabled(false);
        finishPaging();
        return;
    }
    const core::PagePosition top = stack.back();
    if ((stack.size() == m_savedStackSize && samePosition(top, m_savedPageStart)) ||
        top.page == kEndMark) {
        stack.push_back({kEndMark, top.offset});
        m_host.showMessage("No more records in table");
        m_pane.nextButton()->setEnabled(false);
        finishPaging();
        return;
    }
    m_pane.previousButton()->setEnabled(true);
    m_savedPageStart = top;
    m_savedStackSize = stack.size();
    ctx.keepPositions = false;
    const std::size_t read = readPage(top);
    if (read < kPageRows || !ctx.moreRows) {
        stack.push_back({kEndMark, top.offset});
        m_host.showMessage("No more records in table");
        m_pane.nextButton()->setEnabled(false);
    }
    m_firstRow = m_lastRow;
    m_lastRow = m_firstRow + static_cast<std::int64_t>(read);
    m_host.setCaption(QString::asprintf("%lld rows to %lld", static_cast<long long>(m_firstRow),
                                        static_cast<long long>(m_lastRow)));
    finishPaging();
}

void RecordPreview::onPreviousRecords() {
    if (!admit()) return;
    core::TableReader& ctx = *m_frame.previewTable;
    auto& stack = ctx.pageStack;
    const std::size_t n = stack.size();
    if (n < 2) {
        m_pane.previousButton()->setEnabled(false);
        finishPaging();
        return;
    }
    m_pane.previousButton()->setEnabled(true);
    m_pane.nextButton()->setEnabled(true);
    core::PagePosition load{};
    if (n == 2) {
        m_savedStackSize = 2;
        const core::PagePosition kept = stack.back();
        stack.pop_back();
        load = stack.back();
        stack.push_back(kept);
        m_pane.previousButton()->setEnabled(false);
    } else {
        stack.pop_back();
        const core::PagePosition kept = stack.back();
        stack.pop_back();
        load = stack.back();
        if (stack.size() == 1) m_pane.previousButton()->setEnabled(false);
        stack.push_back(kept);
    }
    m_savedPageStart = load;
    ctx.keepPositions = true;
    const std::size_t read = readPage(load);
    m_firstRow -= static_cast<std::int64_t>(kPageRows);
    m_lastRow = m_firstRow + static_cast<std::int64_t>(read);
    m_host.setCaption(QString::asprintf("%lld rows to %lld", static_cast<long long>(m_firstRow),
                                        static_cast<long long>(m_lastRow)));
    finishPaging();
}

}  // namespace dunmore::ui
