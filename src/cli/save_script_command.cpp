#include "cli/commands.h"

#include <cstdio>

namespace dunmore::cli {

// Not built yet: reported as bad usage so that nothing claims success.
int runSaveScript(const CommonOptions&, const std::string&, const std::vector<std::string>&) {
    std::fprintf(stderr, "dunmore: save-script is not available in this build\n");
    return 2;
}

}  // namespace dunmore::cli
