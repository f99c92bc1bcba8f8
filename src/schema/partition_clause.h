#pragma once

#include "core/status.h"

#include <string>
#include <string_view>
#include <vector>

namespace dunmore::schema {

// The partitioning of a table as its .frm keeps it: the SQL text the server wrote for it
// (" PARTITION BY RANGE (year(`d`))\n(PARTITION `p0` VALUES LESS THAN (2019) ...)"),
// taken apart into what a reader of its rows and a CREATE TABLE statement need.
struct PartitionClause {
    struct Partition {
        std::string name;                        // the real name (UTF-8)
        std::vector<std::string> subpartitions;  // real names; empty without subpartitioning
    };
    // In definition order, with the names the server gives when the text names none
    // (p0, p1, ...; a subpartition of p0: p0sp0, p0sp1, ...).
    std::vector<Partition> partitions;
    bool subpartitioned = false;
    // The identifiers the partitioning functions and column lists name, as written:
    // back-quoted ones and bare words that are not followed by "(" (a function call) nor
    // are charset introducers (_utf8mb4). A bare word that is an SQL key word of such
    // expressions (MOD, DIV, AND, AS, SIGNED, DAY, ...) is marked; every other one must be
    // a column of the table.
    struct Identifier {
        std::string name;
        bool keyword = false;
    };
    std::vector<Identifier> functionIdentifiers;
    // The clause on one line for a CREATE TABLE statement: line breaks outside quotes made
    // blanks, DATA DIRECTORY and INDEX DIRECTORY options (paths of the old server)
    // removed.
    std::string statementText;
    // Why the text is not put into a CREATE TABLE statement (partitioning by SYSTEM_TIME,
    // a comment in the text); empty when it can be.
    std::string notRebuilt;
};

// Takes apart the partition text of a .frm. Corrupt, saying what is wrong, when it is not
// the whole text the server writes: no "PARTITION BY" at its start, a quote or a
// parenthesis left open or closed too often, a control character, text after the
// partition list, RANGE or LIST partitioning without its list, a partition count that disagrees with the list, partitions with
// different numbers of subpartitions, two partitions of one name, an empty name.
core::Result<PartitionClause> parsePartitionClause(std::string_view text);

}  // namespace dunmore::schema
