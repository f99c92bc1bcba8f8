// Partitioned tables. The partition engine keeps each partition as a table of its own
// engine whose files are named after the table and the partition: t#P#p0.MYD/.MYI,
// t#P#p0.ibd (or, without file-per-table, the table db/t#P#p0 of ibdata1's dictionary),
// t#P#p0#SP#p0sp0.* for a subpartition; a server with lower_case_table_names writes
// "#p#" and "#sp#" and lower-case names. Which partitions a table has is in its .par file
// (MySQL 5.1 to 5.6, MariaDB) and in the partition text of its .frm (MySQL 5.7 native
// partitioning has only the latter).
#include "output/partitioned_table.h"

#include "core/file_name.h"
#include "core/scan.h"
#include "innodb/dictionary.h"
#include "innodb/innodb_reader.h"
#include "output/script_save_job.h"
#include "schema/par_file.h"
#include "schema/partition_clause.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace dunmore::output {

namespace {

namespace fs = std::filesystem;

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool sameText(const std::string& a, const std::string& b) { return lower(a) == lower(b); }

// A partition by its on-disk names.
struct DiskName {
    std::string partition;
    std::string subpartition;
    bool operator==(const DiskName& o) const {
        return sameText(partition, o.partition) && sameText(subpartition, o.subpartition);
    }
};

std::string listText(const std::vector<DiskName>& names) {
    std::string out;
    for (const DiskName& n : names)
        out += (out.empty() ? "" : ", ") + n.partition + (n.subpartition.empty() ? "" : "#SP#" + n.subpartition);
    return out;
}

std::vector<DiskName> namesOfClause(const schema::PartitionClause& clause) {
    std::vector<DiskName> out;
    for (const auto& p : clause.partitions) {
        if (p.subpartitions.empty()) out.push_back({core::encodeFileName(p.name), {}});
        for (const auto& s : p.subpartitions)
            out.push_back({core::encodeFileName(p.name), core::encodeFileName(s)});
    }
    return out;
}

// The names of a .par file. Servers before MariaDB 10 keep only a subpartition's own name;
// its partition is then the clause's (when the counts agree).
std::vector<DiskName> namesOfPar(const schema::ParFile& par, const std::vector<DiskName>& ofClause) {
    std::vector<DiskName> out;
    for (std::size_t i = 0; i < par.names.size(); ++i) {
        const auto parts = core::splitPartitionFileName("t#P#" + par.names[i]);
        DiskName n{parts ? parts->partition : par.names[i], parts ? parts->subpartition : ""};
        if (n.subpartition.empty() && ofClause.size() == par.names.size() && !ofClause[i].subpartition.empty())
            n = {ofClause[i].partition, n.partition};
        out.push_back(std::move(n));
    }
    return out;
}

// The partition data files of the table found on disk, and the ibdata1 tables of its
// partitions, by base name.
std::vector<std::string> partitionBasesPresent(const core::MainFrame& frame, const core::TableEntry& table,
                                               const std::string& folder, bool innodb) {
    std::vector<std::string> out;
    const std::string tableBase = core::diskName(table);
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const fs::path& p = it->path();
        const std::string ext = lower(p.extension().string());
        if (ext != ".myd" && ext != ".myi" && ext != ".ibd") continue;
        const std::string stem = p.stem().string();
        const auto parts = core::splitPartitionFileName(stem);
        if (!parts || !sameText(parts->table, tableBase)) continue;
        if (std::none_of(out.begin(), out.end(), [&](const std::string& b) { return sameText(b, stem); }))
            out.push_back(stem);
    }
    if (innodb) {
        if (const auto system = std::dynamic_pointer_cast<const innodb::SystemTablespace>(
                frame.context.systemTablespace)) {
            const std::string database = fs::path(folder).filename().string();
            for (const auto& t : system->sysTables) {
                if (t.deleted || t.name.size() <= database.size() + 1 ||
                    !sameText(t.name.substr(0, database.size() + 1), database + "/"))
                    continue;
                const std::string stem = t.name.substr(database.size() + 1);
                const auto parts = core::splitPartitionFileName(stem);
                if (!parts || !sameText(parts->table, tableBase)) continue;
                if (std::none_of(out.begin(), out.end(), [&](const std::string& b) { return sameText(b, stem); }))
                    out.push_back(stem);
            }
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Where the rows of the partition with the base name base are: its files (found without
// regard to case), or for InnoDB its table in the dictionary of ibdata1.
void locatePartition(const core::MainFrame& frame, const core::TableEntry& table, const std::string& folder,
                     bool innodb, TablePartition& part) {
    core::TableEntry entry = part.entry(table);
    const std::string data = core::tableFilePath(frame.catalogue, entry, innodb ? ".ibd" : ".MYD");
    std::error_code ec;
    if (fs::is_regular_file(data, ec)) {
        part.fileBase = fs::path(data).stem().string();
        part.found = true;
        return;
    }
    if (!innodb) return;
    const auto system = std::dynamic_pointer_cast<const innodb::SystemTablespace>(frame.context.systemTablespace);
    if (!system) return;
    for (const std::string& name : {part.fileBase, lower(part.fileBase)}) {
        const innodb::TableLocation where = innodb::locateTable(*system, folder, name);
        if (where.tableId != 0 && !where.inOwnFile) {
            part.fileBase = name;
            part.found = true;
            return;
        }
    }
}

}  // namespace

std::string TablePartition::describe() const {
    return subpartition.empty() ? "partition " + partition
                                : "subpartition " + subpartition + " of partition " + partition;
}

core::TableEntry TablePartition::entry(const core::TableEntry& table) const {
    return {table.name + " (" + describe() + ")", table.databaseIndex, fileBase};
}

TablePartitions findTablePartitions(const core::MainFrame& frame, const core::TableEntry& table,
                                    const core::TableDefinitionState& definition) {
    TablePartitions out;
    const core::Catalogue& cat = frame.catalogue;
    if (table.databaseIndex < 0 || static_cast<std::size_t>(table.databaseIndex) >= cat.databaseFolders.size()) {
        out.problem = "no database folder";
        return out;
    }
    const std::string& folder = cat.databaseFolders[static_cast<std::size_t>(table.databaseIndex)];
    const bool innodb = definition.engineCode == core::kEngineInnodb;

    std::vector<DiskName> ofClause;
    std::string clauseProblem = definition.partitionDamage;
    if (clauseProblem.empty()) {
        const auto clause = schema::parsePartitionClause(definition.partitionText);
        if (clause)
            ofClause = namesOfClause(*clause);
        else
            clauseProblem = clause.status().message();
    }
    if (!clauseProblem.empty()) out.notes.push_back("The partition text of the definition cannot be read: " + clauseProblem + ".");

    std::vector<DiskName> names;
    const std::string parPath = core::tableFilePath(cat, table, ".par");
    std::error_code ec;
    if (fs::exists(parPath, ec)) {
        const auto par = schema::readParFile(parPath);
        if (par) {
            names = namesOfPar(*par, ofClause);
            if (!ofClause.empty() && names != ofClause)
                out.notes.push_back(parPath + " names the partitions " + listText(names) +
                                    ", the definition " + listText(ofClause) + "; those of " + parPath + " are read.");
        } else {
            out.notes.push_back(par.status().message() + "; " +
                                (ofClause.empty() ? std::string("the definition names no partitions either.")
                                                  : std::string("the partitions the definition names are read.")));
        }
    }
    if (names.empty()) names = ofClause;

    if (names.empty()) {
        // Neither says which partitions there are: the files that are there are read, and
        // the table is not reported whole.
        out.problem = "neither the .par file nor the definition says which partitions it has";
        for (const std::string& base : partitionBasesPresent(frame, table, folder, innodb)) {
            const auto parts = core::splitPartitionFileName(base);
            TablePartition p{core::realName(parts->partition), core::realName(parts->subpartition), base, false};
            locatePartition(frame, table, folder, innodb, p);
            out.partitions.push_back(std::move(p));
        }
        out.notes.push_back("The partitions of " + table.name + " are not known (" + out.problem + "); the " +
                            std::to_string(out.partitions.size()) + " partition(s) found in its files are read.");
        return out;
    }
    for (const DiskName& n : names) {
        TablePartition p{core::realName(n.partition), n.subpartition.empty() ? "" : core::realName(n.subpartition),
                         core::partitionFileName(core::diskName(table), n.partition, n.subpartition), false};
        locatePartition(frame, table, folder, innodb, p);
        out.partitions.push_back(std::move(p));
    }
    for (const std::string& base : partitionBasesPresent(frame, table, folder, innodb)) {
        const bool named = std::any_of(out.partitions.begin(), out.partitions.end(),
                                       [&](const TablePartition& p) { return sameText(p.fileBase, base); });
        if (!named)
            out.notes.push_back(base + " is not a partition of " + table.name +
                                " that its definition names (a partition being altered?); it is not read.");
    }
    return out;
}

std::string savePartitionedTableRows(core::MainFrame& frame, const core::TableEntry& table,
                                     const core::TableDefinitionState& definition,
                                     const std::string& databaseFolder, const std::string& statementName,
                                     bool toServer, core::TableRowCounts& counts) {
    counts = {};
    const TablePartitions found = findTablePartitions(frame, table, definition);
    for (const std::string& note : found.notes) frame.writeLog(note + "\r\n");
    const std::string rows = "Rows of table " + table.name;
    if (found.partitions.empty())
        return rows + " not saved: " + (found.problem.empty() ? "it has no partitions" : found.problem) +
               " and no partition file of it was found.";
    std::vector<std::string> failures;
    const auto addLoss = [&](const std::string& what) {
        counts.loss += (counts.loss.empty() ? "" : "; ") + what;
    };
    if (!found.problem.empty()) {
        failures.push_back(rows + " not saved completely: " + found.problem + "; only the partition files found were read.");
        addLoss(found.problem);
        counts.report.push_back("The partitions of " + table.name + " are not known: " + found.problem + ".");
        ++counts.damaged;
    }
    const char* dataSuffix = definition.engineCode == core::kEngineInnodb ? ".ibd" : ".MYD";
    for (const TablePartition& part : found.partitions) {
        if (frame.stopRequested()) break;
        const std::string line = "Reading " + part.describe() + " of table " + table.name + " (" + part.fileBase + ")";
        frame.addOutputLine(line);
        frame.writeLog(line + "\r\n");
        if (!part.found) {
            const std::string missing = part.describe() + " is missing (no " + part.fileBase + dataSuffix +
                                        (definition.engineCode == core::kEngineInnodb ? " and no table " + part.fileBase + " in ibdata1" : "") +
                                        "): its rows are lost";
            frame.writeLog("The " + missing + ".\r\n");
            frame.addOutputLine("The " + missing + ".");
            failures.push_back(rows + " (" + part.describe() + ") not saved: its file " + part.fileBase + dataSuffix +
                               " is missing.");
            addLoss(missing);
            counts.report.push_back("The " + missing + ".");
            ++counts.damaged;
            continue;
        }
        core::TableDefinitionState ofPartition = definition;
        ofPartition.partitioned = false;
        core::TableRowCounts partCounts;
        const std::string failure = saveTableRows(frame, part.entry(table), std::move(ofPartition), databaseFolder,
                                                  statementName, toServer, &partCounts);
        counts.written += partCounts.written;
        counts.rejected += partCounts.rejected;
        counts.deletedSkipped += partCounts.deletedSkipped;
        counts.damaged += partCounts.damaged;
        counts.failed = counts.failed || partCounts.failed;
        for (const std::string& r : partCounts.report) counts.report.push_back(part.describe() + ": " + r);
        if (!partCounts.loss.empty()) addLoss(part.describe() + ": " + partCounts.loss);
        if (!failure.empty()) {
            failures.push_back(failure);
            // A failure without a count of its own (a file that does not open) still
            // leaves the table incomplete.
            if (partCounts.complete()) ++counts.damaged;
        }
    }
    std::string result;
    for (const std::string& f : failures) result += (result.empty() ? "" : " ") + f;
    return result;
}

}  // namespace dunmore::output
