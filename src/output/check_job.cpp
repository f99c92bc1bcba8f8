// The check job: the reading of a save as script without its writing. Each checked item
// is read with the save's own code (the definition, the row streams of its engine, the
// view and trigger statements), so that what the check reports is what a save of the
// same files would write and lose.
#include "output/check_job.h"

#include "core/file_name.h"
#include "core/scan.h"
#include "innodb/sdi_definition.h"
#include "output/script_save_job.h"
#include "schema/trigger_statements.h"
#include "schema/view_statement.h"

#include <filesystem>

namespace dunmore::output {

namespace {

namespace fs = std::filesystem;

void checkTable(core::MainFrame& frame, const core::TableEntry& table, ItemCheck& item) {
    const core::Catalogue& cat = frame.catalogue;
    const std::string processing = "Checking Table " + table.name;
    frame.addOutputLine(processing);
    frame.writeLog(processing + "\r\n");
    if (table.databaseIndex < 0 ||
        static_cast<std::size_t>(table.databaseIndex) >= cat.databaseFolders.size()) {
        item.intact = false;
        item.problem = "no database folder";
        return;
    }
    core::TableDefinitionState definition;
    const core::Status read = innodb::readCatalogueTableDefinition(definition, cat, table, frame.settings);
    if (!read.isOk() || definition.columns.empty()) {
        item.intact = false;
        item.problem = "its definition cannot be read: " +
                       (read.isOk() ? std::string("it has no columns") : read.message());
        item.report.push_back("The definition of " + table.name + " cannot be read (" +
                              (read.isOk() ? std::string("it has no columns") : read.message()) +
                              "): its rows cannot be saved.");
        frame.writeLog(item.report.back() + "\r\n");
        return;
    }
    core::TableRowCounts counts;
    const std::string failure =
        saveTableRows(frame, table, std::move(definition), cat.databaseFolders[table.databaseIndex],
                      statementTableName(table.name), false, &counts);
    item.rows = counts.written;
    item.report = counts.report;
    if (failure.empty()) return;
    item.intact = false;
    item.problem = failure;
    if (item.report.empty()) item.report.push_back(failure);
}

void checkView(const core::Catalogue& cat, std::size_t index, ItemCheck& item) {
    // A view of the data dictionary is named by the file that keeps it.
    const std::string path = cat.dictionaryViews.count(index) ? cat.dictionaryFile : cat.viewFiles[index];
    if (!schema::viewStatement(cat, index).empty()) {
        item.report.push_back("The view definition " + path + " reads.");
        return;
    }
    const std::string why = schema::viewDamage(cat, index);
    item.intact = false;
    item.problem = "the view definition " + path + " " + (why.empty() ? std::string("cannot be read") : why);
    item.report.push_back("The view definition " + path + " " +
                          (why.empty() ? std::string("cannot be read") : why) + ".");
}

void checkTriggers(core::MainFrame& frame, const core::TriggerEntry& entry, ItemCheck& item) {
    const std::string path = core::joinPath(entry.databaseFolder, entry.fileName);
    if (!entry.dictionaryTriggers.empty()) {
        item.report.push_back("The triggers of " + entry.dictionaryTriggers.front().table + " in " +
                              frame.catalogue.dictionaryFile + " read.");
        return;
    }
    if (!schema::triggerStatements(frame, entry).empty()) {
        item.report.push_back("The trigger file " + path + " reads.");
        return;
    }
    const std::string why = schema::triggerDamage(entry);
    if (why.empty()) {
        item.report.push_back("The trigger file " + path + " holds no trigger.");
        return;
    }
    item.intact = false;
    item.problem = "the trigger file " + path + " " + why;
    item.report.push_back("The trigger file " + path + " " + why + ".");
}

}  // namespace

CheckOutcome runCheckJob(core::MainFrame& frame, CheckOutcome* result) {
    core::AppSettings& settings = frame.settings;
    const core::Catalogue& cat = frame.catalogue;
    const core::CheckTree& tree = frame.tree;
    frame.frontend.enableTree(false);
    // Read as a script save reads, write nothing: values whole, no blob files.
    settings.savingScript = true;
    settings.savingToServer = false;
    settings.blobsInline = true;
    settings.checkOnly = true;
    settings.savingFolder.clear();
    CheckOutcome outcome;
    for (auto node = tree.firstCheckedNode(); node != core::CheckTree::kNone;
         node = tree.nextCheckedNode(node)) {
        if (frame.stopRequested()) {
            outcome.stopped = true;
            break;
        }
        const CheckedItem checked = classifyCheckedNode(frame, node);
        if (checked.kind == CheckedItem::Kind::None) continue;
        ItemCheck item;
        const core::CheckTree::NodeId database = tree.parent(tree.parent(node));
        if (database != core::CheckTree::kNone) item.name = tree.node(database).text + ".";
        item.name += tree.node(node).text;
        switch (checked.kind) {
            case CheckedItem::Kind::Table:
                checkTable(frame, cat.tables[checked.index], item);
                break;
            case CheckedItem::Kind::View:
                item.kind = ItemCheck::Kind::View;
                checkView(cat, checked.index, item);
                break;
            case CheckedItem::Kind::Trigger:
                item.kind = ItemCheck::Kind::Trigger;
                checkTriggers(frame, cat.triggers[checked.index], item);
                break;
            case CheckedItem::Kind::None:
                break;
        }
        outcome.items.push_back(std::move(item));
    }
    if (frame.stopRequested()) outcome.stopped = true;
    std::size_t damaged = 0;
    for (const ItemCheck& item : outcome.items) damaged += item.intact ? 0 : 1;
    const std::string message =
        outcome.stopped ? "Check stopped: the items after the stop were not checked."
        : damaged == 0  ? "Check completed: every item reads completely."
                        : "Check completed: " + std::to_string(damaged) +
                             " item(s) cannot be saved completely. " + seeTheLogFile(settings.logFilePath);
    frame.writeLog(message + "\r\n");
    frame.frontend.showMessage(message);
    settings.checkOnly = false;
    settings.savingScript = false;
    settings.blobsInline = false;
    frame.frontend.enableTree(true);
    settings.stopRequested = 0;
    if (result) *result = outcome;
    settings.busy = 0;
    return outcome;
}

}  // namespace dunmore::output
