// `dunmore schema`: the CREATE TABLE statement of one table, as a save would write it.
#include "cli/cli_session.h"
#include "cli/commands.h"

#include <cstdio>

namespace dunmore::cli {

int runSchema(const CommonOptions& options, const std::string& table) {
    (void)options;
    std::fprintf(stderr, "dunmore: schema of %s is not available in this build\n", table.c_str());
    return 2;
}

}  // namespace dunmore::cli
