#include "innodb_hook.h"

#include "innodb/dictionary.h"
#include "innodb/mysql8_dictionary.h"

namespace dunmore::cli {

std::function<bool(core::RecoveryContext&, const std::string&)> openSystemTablespaceHook() {
    return [](core::RecoveryContext& ctx, const std::string& path) {
        return innodb::openSystemTablespace(ctx, path);
    };
}

std::function<core::DictionaryObjects(const std::string&)> readDictionaryHook() {
    return [](const std::string& path) { return innodb::readMysql8Dictionary(path); };
}

}  // namespace dunmore::cli
