#pragma once

#include "core/recovery_context.h"

#include <functional>
#include <string>

namespace dunmore::cli {

// The scan's call into the InnoDB module: open ibdata1 and load its dictionary.
std::function<bool(core::RecoveryContext&, const std::string&)> openSystemTablespaceHook();

}  // namespace dunmore::cli
