#pragma once

#include <string>
#include <vector>

namespace dunmore::cli {

// Options every command shares.
struct CommonOptions {
    std::string dataDir;
    std::string logFolder;  // empty: the current directory
    std::string ibdata1;    // the answer to "browse ibdata1 manually"
};

// Each command returns the process exit status: 0 all selected items done, 1 some item
// failed (see the log), 2 bad usage or unreadable data folder.
int runScan(const CommonOptions& options);
int runSchema(const CommonOptions& options, const std::string& table);
int runPreview(const CommonOptions& options, const std::string& item, int page);
int runSaveScript(const CommonOptions& options, const std::string& outDir,
                  const std::vector<std::string>& items);

}  // namespace dunmore::cli
