#pragma once

#include "core/catalogue.h"
#include "core/recovery_context.h"

#include <functional>
#include <string>

namespace dunmore::cli {

// The scan's call into the InnoDB module: open ibdata1 and load its dictionary.
std::function<bool(core::RecoveryContext&, const std::string&)> openSystemTablespaceHook();
// Its call for the views and triggers of a MySQL 8 data dictionary (mysql.ibd).
std::function<core::DictionaryObjects(const std::string&)> readDictionaryHook();

}  // namespace dunmore::cli
