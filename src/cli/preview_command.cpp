#include "cli/commands.h"

#include <cstdio>

namespace dunmore::cli {

// Not built yet: reported as bad usage so that nothing claims success.
int runPreview(const CommonOptions&, const std::string&, int) {
    std::fprintf(stderr, "dunmore: preview is not available in this build\n");
    return 2;
}

}  // namespace dunmore::cli
