#pragma once

#include "core/check_tree.h"
#include "core/main_frame.h"

#include <functional>
#include <string>

namespace dunmore::core {

// What the scan calls outside core: the InnoDB module opens ibdata1 and loads its
// dictionary. Without a hook the scan only opens the file.
struct ScanHooks {
    std::function<bool(RecoveryContext&, const std::string&)> openSystemTablespace;
    // Reads the views and triggers of the MySQL 8.0+ data dictionary at the path given
    // (the data folder's mysql.ibd). Without it a dictionary is not read.
    std::function<DictionaryObjects(const std::string&)> readDictionary;
};

// Open command. settingsDialog shows the settings dialog (it sets chosenFolder,
// tempFolder and logFolder) and returns whether it ended with OK. Returns whether a scan
// was started; the scan runs on a worker thread (MainFrame::waitForJob waits for it).
bool openCommand(MainFrame& frame, const std::function<bool()>& settingsDialog,
                 ScanHooks hooks = {});

// The scan worker: builds the catalogue and the tree from settings.chosenFolder (with
// the views and triggers of mysql.ibd, when there is one, under their databases), opens
// ibdata1, clears busy. Returns 1.
int scanWorker(MainFrame& frame, const ScanHooks& hooks);

// Appends every subfolder of folder (in enumeration order) to catalogue.databaseFolders.
void findDatabaseFolders(MainFrame& frame, const std::string& folder);

// Scans one database folder: its tables (.frm beginning with FE 01), views (.frm
// beginning with TYPE=VIEW) and trigger files (.TRG).
void scanDatabaseFolder(MainFrame& frame, const std::string& folder, CheckTree::NodeId tablesNode,
                        CheckTree::NodeId databaseNode, std::int32_t databaseIndex);

// Path helpers: joins with the separator and collapses doubled separators.
std::string collapseSeparators(std::string path);
std::string joinPath(const std::string& folder, const std::string& name);
// The text after the last separator (the whole text when there is none).
std::string lastPathPart(const std::string& path);

// The file of table entry t with the suffix (".frm", ".MYI", ".MYD", ".ibd"). The suffix
// is matched against the names on disk without regard to case, as the data folder may
// come from a system whose file names ignore case.
std::string tableFilePath(const Catalogue& catalogue, const TableEntry& table,
                          const std::string& suffix);

}  // namespace dunmore::core
