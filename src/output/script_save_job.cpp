// The save-as-script job. It visits the checked nodes of the database tree in pre-order;
// a node's tag and its parent's tag say what it is: under "Trigger" (-3) the n-th trigger
// file, under "Views" (-4) the n-th view file, any other positive tag the n-th table.
// Structural, "Keys" and folder nodes add nothing by themselves.
#include "output/script_save_job.h"

#include "core/field_type.h"
#include "core/file_name.h"
#include "core/item_journal.h"
#include "core/ordered_work.h"
#include "core/scan.h"
#include "innodb/row_stream.h"
#include "innodb/sdi_definition.h"
#include "myisam/myisam_layout.h"
#include "myisam/myisam_row_stream.h"
#include "output/create_table.h"
#include "output/partitioned_table.h"
#include "output/script_output.h"
#include "schema/frm_reader.h"
#include "schema/trigger_statements.h"
#include "schema/view_statement.h"
#include "values/script_row_writer.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>

namespace dunmore::output {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kLongNameLimit = 64;
constexpr std::size_t kShortenedNameLength = 63;

// Items ahead of their turn keep at most this much of what they write (ItemJournal).
constexpr std::size_t kJournalLimit = std::size_t{2} << 20;

// The folder of the table's database, or null when the catalogue names none.
const std::string* databaseFolderOf(const core::Catalogue& cat, const core::TableEntry& table) {
    if (table.databaseIndex < 0 || static_cast<std::size_t>(table.databaseIndex) >= cat.databaseFolders.size())
        return nullptr;
    return &cat.databaseFolders[static_cast<std::size_t>(table.databaseIndex)];
}

// A table's section of its database's script, which is open: "Processing Table", then
// the CREATE TABLE statement and the rows, or why the table is not saved. definition is
// what the read of its definition gave (read).
void saveTableSection(core::MainFrame& frame, ScriptJobState& state, const core::TableEntry& table,
                      const std::string& databaseFolder, core::TableDefinitionState definition,
                      const core::Status& read) {
    const std::string processing = "Processing Table " + table.name;
    frame.addOutputLine(processing);
    frame.writeLog(processing + "\r\n");
    if (!read.isOk() || definition.columns.empty()) {
        // A statement without columns would stop the replay of the whole script.
        reportFailure(frame, state,
                      "Table " + table.name + " not saved: " +
                          (read.isOk() ? std::string("its definition has no columns") : read.message()) +
                          ".");
        return;
    }
    const std::string statementName = statementTableName(table.name);
    core::ScriptWriter& writer = frame.scriptWriter;
    writer.writeText(formatCreateTableForTarget(frame, definition, statementName, table.name,
                                                frame.settings.targetMariadb));
    writer.writeLineEnd();
    writer.writeLineEnd();

    const std::string rowsFailure =
        saveTableRows(frame, table, std::move(definition), databaseFolder, statementName, false);
    if (!rowsFailure.empty()) reportFailure(frame, state, rowsFailure);
}

// Starts the script of the table's database; false when it is not open (reported).
bool startTableScript(core::MainFrame& frame, ScriptJobState& state, const core::TableEntry& table,
                      const std::string*& databaseFolder) {
    databaseFolder = databaseFolderOf(frame.catalogue, table);
    if (databaseFolder == nullptr) {
        reportFailure(frame, state, "Table " + table.name + " not saved: no database folder.");
        return false;
    }
    startDatabaseScript(frame, state, *databaseFolder);
    if (!frame.scriptWriter.isOpen()) {
        // The database's script could not be created (already reported).
        ++state.failures;
        return false;
    }
    return true;
}

void saveTable(core::MainFrame& frame, ScriptJobState& state, const core::TableEntry& table) {
    const std::string* databaseFolder = nullptr;
    if (!startTableScript(frame, state, table, databaseFolder)) return;
    core::TableDefinitionState definition;
    const core::Status read =
        innodb::readCatalogueTableDefinition(definition, frame.catalogue, table, frame.settings);
    saveTableSection(frame, state, table, *databaseFolder, std::move(definition), read);
}

// Whether the rows of a table may go to blob files: the long BLOB and TEXT values of an
// InnoDB table, when the save writes them as files.
bool mayWriteBlobFiles(const core::AppSettings& settings, const core::TableDefinitionState& definition) {
    if (settings.blobsInline || definition.engineCode != core::kEngineInnodb) return false;
    return std::any_of(definition.columns.begin(), definition.columns.end(),
                       [](const core::ColumnDefinition& c) { return core::isBlobType(core::fieldType(c.typeCode)); });
}

// The tables of a save, run ahead of their turn on the save's threads, each into its own
// ItemJournal, and handed to the frame in tree order: the tables of a save are read and
// written at once, and the script, the log and the output lines are what one thread
// saving them in turn would give. A table that may write blob files waits for its turn
// and is saved then on the job's thread, since the numbers of the blob files follow the
// order of the tables.
class TablesAhead {
public:
    // tables: catalogue indexes of the checked tables in tree order.
    TablesAhead(core::MainFrame& frame, std::vector<std::size_t> tables, unsigned workers)
        : m_frame(frame), m_tables(std::move(tables)) {
        for (std::size_t i = 0; i < m_tables.size(); ++i) m_ahead.push_back(std::make_unique<Ahead>());
        m_work = std::make_unique<core::OrderedWork<bool>>(
            workers, workers + 1, m_tables.size(), [this](std::size_t i, unsigned) { return runAhead(i); });
    }
    ~TablesAhead() {
        // Tables whose turn does not come (a stop) drop what they write and keep no thread
        // waiting.
        for (std::size_t i = m_next; i < m_ahead.size(); ++i) m_ahead[i]->journal.giveUp();
        m_work.reset();
    }
    TablesAhead(const TablesAhead&) = delete;
    TablesAhead& operator=(const TablesAhead&) = delete;

    // The turn of the next table.
    void saveNext(ScriptJobState& state) {
        Ahead& ahead = *m_ahead.at(m_next);
        const core::TableEntry& table = m_frame.catalogue.tables[m_tables[m_next]];
        ++m_next;
        const std::string* databaseFolder = nullptr;
        if (!startTableScript(m_frame, state, table, databaseFolder)) {
            ahead.journal.giveUp();
            (void)m_work->take();
            return;
        }
        ahead.journal.replay(m_frame);
        (void)m_work->take();
        if (ahead.waits) {
            saveTable(m_frame, state, table);
            return;
        }
        state.failures += ahead.state.failures;
        if (!ahead.state.lastFailure.empty()) state.lastFailure = ahead.state.lastFailure;
    }

private:
    struct Ahead {
        core::ItemJournal journal{kJournalLimit};
        ScriptJobState state;  // the table's failures
        bool waits = false;    // saved at its turn instead
    };

    bool runAhead(std::size_t i) {
        Ahead& ahead = *m_ahead[i];
        const core::Catalogue& cat = m_frame.catalogue;
        const core::TableEntry& table = cat.tables[m_tables[i]];
        const std::string* databaseFolder = databaseFolderOf(cat, table);
        core::TableDefinitionState definition;
        const core::Status read =
            databaseFolder ? innodb::readCatalogueTableDefinition(definition, cat, table, m_frame.settings)
                           : core::Status::ok();
        ahead.waits = databaseFolder == nullptr || (read.isOk() && mayWriteBlobFiles(m_frame.settings, definition));
        if (ahead.waits) return true;
        core::ItemJournal::Scope scope(&ahead.journal);
        saveTableSection(m_frame, ahead.state, table, *databaseFolder, std::move(definition), read);
        return true;
    }

    core::MainFrame& m_frame;
    std::vector<std::size_t> m_tables;
    std::vector<std::unique_ptr<Ahead>> m_ahead;
    std::unique_ptr<core::OrderedWork<bool>> m_work;
    std::size_t m_next = 0;
};

void saveView(core::MainFrame& frame, ScriptJobState& state, std::size_t index) {
    const std::string& path = frame.catalogue.viewFiles[index];
    // A view goes into the script of its own database, which it starts when none of the
    // database's tables was saved before it.
    startDatabaseScript(frame, state, fs::path(path).parent_path().string());
    if (!frame.scriptWriter.isOpen()) {
        ++state.failures;
        return;
    }
    const std::string text = schema::viewStatement(frame.catalogue, index);
    if (text.empty()) {
        const std::string why = schema::viewDamage(frame.catalogue, index);
        reportFailure(frame, state, "View not saved: " + path + " " +
                                        (why.empty() ? std::string("cannot be read") : why) + ".");
        return;
    }
    const std::string fileName = core::lastPathPart(path);
    addViewSection(state, core::realName(fileName.substr(0, fileName.rfind('.'))), text);
}

void saveTriggers(core::MainFrame& frame, ScriptJobState& state, const core::TriggerEntry& entry) {
    startDatabaseScript(frame, state, entry.databaseFolder);
    if (!frame.scriptWriter.isOpen()) {
        ++state.failures;
        return;
    }
    const std::string path = core::joinPath(entry.databaseFolder, entry.fileName);
    const std::string text = schema::triggerStatements(frame, entry);
    if (text.empty()) {
        const std::string why = schema::triggerDamage(entry);
        if (!why.empty()) reportFailure(frame, state, "Triggers not saved: " + path + " " + why + ".");
        return;
    }
    writeDefinitionSection(frame.scriptWriter, text);
}

void saveNode(core::MainFrame& frame, ScriptJobState& state, core::CheckTree::NodeId node,
              TablesAhead* ahead) {
    const core::Catalogue& cat = frame.catalogue;
    const CheckedItem item = classifyCheckedNode(frame, node);
    switch (item.kind) {
        case CheckedItem::Kind::Trigger:
            return saveTriggers(frame, state, cat.triggers[item.index]);
        case CheckedItem::Kind::View:
            return saveView(frame, state, item.index);
        case CheckedItem::Kind::Table:
            if (ahead) return ahead->saveNext(state);
            return saveTable(frame, state, cat.tables[item.index]);
        case CheckedItem::Kind::None:
            return;
    }
}

// The checked tables in the order the job reaches them.
std::vector<std::size_t> checkedTables(const core::MainFrame& frame) {
    std::vector<std::size_t> tables;
    for (auto node = frame.tree.firstCheckedNode(); node != core::CheckTree::kNone;
         node = frame.tree.nextCheckedNode(node)) {
        const CheckedItem item = classifyCheckedNode(frame, node);
        if (item.kind == CheckedItem::Kind::Table) tables.push_back(item.index);
    }
    return tables;
}

// The item a checked table, view or trigger node stands for, named as the tree names it
// (database node text, ".", item node text); nullopt for any other node.
std::optional<SavedItem> itemOfNode(const core::MainFrame& frame, core::CheckTree::NodeId node) {
    const CheckedItem checked = classifyCheckedNode(frame, node);
    SavedItem item;
    switch (checked.kind) {
        case CheckedItem::Kind::None: return std::nullopt;
        case CheckedItem::Kind::Table: item.kind = SavedItem::Kind::Table; break;
        case CheckedItem::Kind::View: item.kind = SavedItem::Kind::View; break;
        case CheckedItem::Kind::Trigger: item.kind = SavedItem::Kind::Trigger; break;
    }
    const core::CheckTree& tree = frame.tree;
    const core::CheckTree::NodeId database = tree.parent(tree.parent(node));
    if (database != core::CheckTree::kNone) item.name = tree.node(database).text + ".";
    item.name += tree.node(node).text;
    return item;
}

// Whether folder is base or lies below it, after resolving links and dot parts.
bool isWithin(const std::string& folder, const std::string& base) {
    if (folder.empty() || base.empty()) return false;
    std::error_code ec;
    const fs::path f = fs::weakly_canonical(fs::absolute(folder, ec), ec);
    const fs::path b = fs::weakly_canonical(fs::absolute(base, ec), ec);
    auto fi = f.begin();
    for (auto bi = b.begin(); bi != b.end(); ++bi, ++fi) {
        if (bi->empty()) continue;  // the trailing separator of a folder path
        if (fi == f.end() || *fi != *bi) return false;
    }
    return true;
}

}  // namespace

std::string saveTableRows(core::MainFrame& frame, const core::TableEntry& table,
                          core::TableDefinitionState definition,
                          const std::string& databaseFolder, const std::string& statementName,
                          bool toServer, core::TableRowCounts* rowCounts) {
    const core::Catalogue& cat = frame.catalogue;
    const std::string rows = "Rows of table " + table.name;
    core::TableRowCounts ownCounts;
    core::TableRowCounts& counts = rowCounts ? *rowCounts : ownCounts;
    counts = {};
    // What of the rows was lost, named for the final message.
    const auto incomplete = [&] {
        return rows + " not saved completely" + (counts.loss.empty() ? "." : ": " + counts.loss + ".");
    };
    if (definition.partitioned) {
        if (definition.engineCode != core::kEngineMyisam && definition.engineCode != core::kEngineInnodb)
            return rows + " not saved: the storage engine of its partitions is neither MyISAM nor InnoDB.";
        return savePartitionedTableRows(frame, table, definition, databaseFolder, statementName, toServer, counts);
    }
    if (definition.engineCode == core::kEngineMyisam) {
        myisam::MyisamReader reader(std::move(definition));
        const std::string indexPath = core::tableFilePath(cat, table, ".MYI");
        const std::string dataPath = core::tableFilePath(cat, table, ".MYD");
        frame.writeLog("Processing File\t" + indexPath + "\r\n");
        const bool layout = myisam::loadMyisamLayout(reader, indexPath, dataPath);
        frame.writeLog("Processing File\t" + dataPath + "\r\n");
        // Without a record layout, rows read from the data file would be guesses, so none
        // are written.
        if (!layout) {
            frame.writeLog(reader.headDamage + "\r\n");
            return rows + " not saved: " + reader.headDamage;
        }
        core::ReadOnlyFile probe;
        if (!probe.open(dataPath).isOk()) return rows + " not saved: " + dataPath + " cannot be read.";
        probe.close();
        const bool complete =
            myisam::saveMyisamTableRows(frame, reader, dataPath, statementName, toServer, &counts);
        return complete ? std::string() : incomplete();
    }
    if (definition.engineCode == core::kEngineInnodb) {
        const std::string ibdPath = core::tableFilePath(cat, table, ".ibd");
        std::error_code ec;
        if (!fs::exists(ibdPath, ec) && !frame.context.systemTablespaceOpen())
            return rows + " not saved: neither " + ibdPath + " nor ibdata1 can be read.";
        innodb::InnodbReader reader(frame.context, std::move(definition));
        std::string problem;
        const bool complete = innodb::saveInnodbTableRows(frame, reader, databaseFolder,
                                                          core::diskName(table), statementName,
                                                          toServer, &counts, &problem);
        if (!problem.empty()) return rows + " not saved: its records cannot be read: " + problem + ".";
        return complete ? std::string() : incomplete();
    }
    return rows + " not saved: its storage engine is neither MyISAM nor InnoDB.";
}

CheckedItem classifyCheckedNode(const core::MainFrame& frame, core::CheckTree::NodeId node) {
    const core::CheckTree& tree = frame.tree;
    const core::Catalogue& cat = frame.catalogue;
    const std::int32_t tag = tree.node(node).tag;
    const core::CheckTree::NodeId parent = tree.parent(node);
    const std::int32_t parentTag = parent == core::CheckTree::kNone ? 0 : tree.node(parent).tag;
    const std::int64_t index = tag > 0 ? tag - 1 : tag;
    const auto within = [&](std::size_t size) {
        return index >= 0 && static_cast<std::size_t>(index) < size;
    };
    const auto at = static_cast<std::size_t>(index);
    if (parentTag == core::kTagTriggerFolder)
        return within(cat.triggers.size()) ? CheckedItem{CheckedItem::Kind::Trigger, at} : CheckedItem{};
    if (parentTag == core::kTagViewsFolder)
        return within(cat.viewFiles.size()) ? CheckedItem{CheckedItem::Kind::View, at} : CheckedItem{};
    return within(cat.tables.size()) ? CheckedItem{CheckedItem::Kind::Table, at} : CheckedItem{};
}

std::string statementTableName(const std::string& name) {
    std::size_t characters = 0;
    std::size_t cut = name.size();
    for (std::size_t i = 0; i < name.size(); ++i) {
        if ((static_cast<unsigned char>(name[i]) & 0xC0) == 0x80) continue;
        if (characters == kShortenedNameLength) cut = i;
        ++characters;
    }
    return characters > kLongNameLimit ? name.substr(0, cut) : name;
}

std::string seeTheLogFile(const std::string& logFilePath) {
    return logFilePath.empty() ? "No log file could be written." : "See the log file " + logFilePath;
}

std::string completionMessage(const ScriptSaveOutcome& outcome, const std::string& logFilePath) {
    if (outcome.failures > 0)
        return "Script Created with errors: " + std::to_string(outcome.failures) +
               " item(s) not saved completely. " + seeTheLogFile(logFilePath);
    if (outcome.stopped)
        return "Script saving stopped: the items after the stop were not saved. " +
               seeTheLogFile(logFilePath);
    return std::string(kScriptCreated);
}

ScriptSaveOutcome runScriptSaveJob(core::MainFrame& frame, ScriptSaveOutcome* result) {
    core::AppSettings& settings = frame.settings;
    core::Frontend& frontend = frame.frontend;
    frontend.enableTree(false);
    frontend.showProgress(true);
    frame.scriptWriter.resetFailure();

    ScriptJobState state;
    // The data folder is only ever read: a saving folder in it is refused, and so is none.
    std::string refusal;
    if (settings.savingFolder.empty())
        refusal = "No saving folder was chosen; nothing was saved.";
    else if (isWithin(settings.savingFolder, frame.catalogue.dataFolder))
        refusal = "The saving folder " + settings.savingFolder +
                  " is inside the data folder; nothing was saved.";
    if (!refusal.empty())
        reportFailure(frame, state, refusal);
    else
        startScriptOutput(frame, state);
    std::vector<SavedItem> items;
    // With more than one worker the tables run ahead of their turn.
    std::unique_ptr<TablesAhead> ahead;
    const unsigned workers = values::saveWorkers(settings.saveJobs);
    if (refusal.empty() && workers > 1) {
        std::vector<std::size_t> tables = checkedTables(frame);
        if (tables.size() > 1) ahead = std::make_unique<TablesAhead>(frame, std::move(tables), workers);
    }
    auto node = refusal.empty() ? frame.tree.firstCheckedNode() : core::CheckTree::kNone;
    for (; node != core::CheckTree::kNone; node = frame.tree.nextCheckedNode(node)) {
        frontend.resetRecordsPane();
        if (frame.stopRequested()) break;
        std::optional<SavedItem> found = itemOfNode(frame, node);
        if (!found) continue;
        const std::uint32_t failuresBefore = state.failures;
        const std::uint64_t rowsBefore = frame.scriptWriter.rowsWritten();
        state.lastFailure.clear();
        saveNode(frame, state, node, ahead.get());
        SavedItem& item = *found;
        item.rows = frame.scriptWriter.rowsWritten() - rowsBefore;
        if (state.failures > failuresBefore) {
            item.result = SavedItem::Result::Failed;
            item.problem = state.lastFailure.empty() ? "see the log" : state.lastFailure;
        } else if (frame.stopRequested()) {
            item.result = SavedItem::Result::Stopped;
        }
        items.push_back(std::move(item));
    }
    // After a stop, what was not reached is named too.
    for (; node != core::CheckTree::kNone; node = frame.tree.nextCheckedNode(node)) {
        if (std::optional<SavedItem> found = itemOfNode(frame, node)) {
            found->result = SavedItem::Result::NotReached;
            items.push_back(std::move(*found));
        }
    }
    // The tables not reached end before the script is closed.
    ahead.reset();
    // A stop during the last item ends its rows early too.
    state.stopped = frame.stopRequested();
    // Closing the last script may still meet a failed write.
    closeDatabaseScript(frame, state);
    const ScriptSaveOutcome outcome{state.failures, state.stopped, std::move(items)};
    const std::string message = completionMessage(outcome, settings.logFilePath);
    if (!outcome.complete()) frame.writeLog(message + "\r\n");
    finishScriptOutput(frame, state);
    frontend.showProgress(false);
    frontend.showMessage(message);
    settings.savingScript = false;
    frontend.enableTree(true);
    settings.stopRequested = 0;
    if (result) *result = outcome;
    // Last: a job admitted now finds this worker with nothing left to do.
    settings.busy = 0;
    return outcome;
}

bool saveCommand(core::MainFrame& frame, const std::function<bool()>& saveDialog,
                 const std::function<void(core::MainFrame&)>& serverJob,
                 ScriptSaveOutcome* outcome) {
    core::AppSettings& settings = frame.settings;
    if (settings.busy.load() != 0) {
        frame.frontend.showMessage(core::kPleaseWait);
        return false;
    }
    if (frame.tree.firstCheckedNode() == core::CheckTree::kNone) {
        frame.frontend.showMessage("Please select folder to save the database");
        return false;
    }
    if (!saveDialog || !saveDialog()) return false;
    // A save never truncates the scripts of an earlier one without being asked: the
    // folder is replaced whole or nothing is saved.
    // (A saving folder inside the data folder is left to the job, which refuses it.)
    if (settings.savingScript && !isWithin(settings.savingFolder, frame.catalogue.dataFolder) &&
        scriptFolderHoldsFiles(settings.savingFolder)) {
        const std::string folder = (std::filesystem::path(settings.savingFolder) / kScriptFolderName).string();
        if (!frame.frontend.askYesNo(core::Question::ReplaceEarlierSave,
                                     folder + " already holds the files of an earlier save. Replace "
                                              "them all? (No saves nothing.)")) {
            frame.addOutputLine("Nothing was saved: " + folder + " holds an earlier save.");
            return false;
        }
        if (!removeScriptFolder(settings.savingFolder)) {
            frame.frontend.showMessage(folder + " could not be removed; nothing was saved.");
            return false;
        }
    }
    const std::string started = "Saving process started. ";
    frame.addOutputLine(started);
    frame.writeLog(started + "\r\n");
    if (settings.savingScript) {
        frame.writeLog("Saving Script path: " + settings.savingFolder + "\r\n");
        return frame.startJob([outcome](core::MainFrame& f) { (void)runScriptSaveJob(f, outcome); });
    }
    if (!serverJob) return false;
    // The server job makes (and removes) its working folder under savingFolder itself.
    while (settings.savingFolder.size() > 1 && settings.savingFolder.back() == '/')
        settings.savingFolder.pop_back();
    return frame.startJob(serverJob);
}

}  // namespace dunmore::output
