#include "innodb_hook.h"

#include "innodb/dictionary.h"

namespace dunmore::cli {

std::function<bool(core::RecoveryContext&, const std::string&)> openSystemTablespaceHook() {
    return [](core::RecoveryContext& ctx, const std::string& path) {
        return innodb::openSystemTablespace(ctx, path);
    };
}

}  // namespace dunmore::cli
