#include "innodb_hook.h"

namespace dunmore::cli {

std::function<bool(core::RecoveryContext&, const std::string&)> openSystemTablespaceHook() {
    // Opens the file only; the dictionary is loaded once the InnoDB module provides it.
    return {};
}

}  // namespace dunmore::cli
