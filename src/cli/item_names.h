#pragma once

#include "core/check_tree.h"
#include "core/main_frame.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dunmore::cli {

// What an ITEM of the command line names: the nodes of the database tree it stands for.
struct NamedItem {
    enum class Kind { Database, Table, TableKeys, View, Trigger };
    Kind kind = Kind::Database;
    std::string database;                // the database node's text
    std::string name;                    // the item node's text (empty for a database)
    std::vector<core::CheckTree::NodeId> nodes;  // first: the main node
};

// Finds ITEM as scan lists it: "DB" (a database node), "DB.NAME" where NAME is a table,
// view or trigger node's text, "DB.NAME.TRG" (the trigger file's name, the extension
// without regard to case), or "DB.TABLE.Keys" ("Keys" without regard to case). A table
// and its trigger file share their name: "DB.NAME" names the table first and, with
// withTriggers, its trigger file as a second node; a trigger file whose table is not
// listed is named by its own name. Database names may hold dots: the longest database
// name that fits is taken. nullopt when nothing matches.
std::optional<NamedItem> findNamedItem(const core::MainFrame& frame, std::string_view item,
                                       bool withTriggers);

// The database nodes of the tree (children of the data-folder node), in tree order.
std::vector<core::CheckTree::NodeId> databaseNodes(const core::CheckTree& tree);

}  // namespace dunmore::cli
