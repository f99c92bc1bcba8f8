#pragma once

#include <filesystem>
#include <string>

#include "myisam/myisam_reader.h"
#include "myisam/myisam_header.h"

namespace dunmore::myisam {

// The .MYI head that the server writes for the table defined in def, derived from the
// definition alone as CREATE TABLE lays it out: the row format (dynamic for packed
// records), the record definitions in record order with the field types of the packed
// format and their null flags, the record and packed record lengths, the minimum packed
// length, the flag bytes and record checksums. Returns an empty text and fills state
// (its stateCounts untouched); otherwise says why the definition describes no record
// (a column without a record position, columns that overlap) and leaves state as it was.
std::string deriveMyisamState(const core::TableDefinitionState& def, MyisamState& state);

// Why the head parsed into state (facts: what the parse saw of it) is not one MyISAM
// wrote: cut short, without MyISAM's signature, a base information of another length,
// definitions that do not end where the header says or do not add up to the record
// length. Empty when it is whole. The head is not compared with the layout derived from
// the definition: servers of other versions pack some types differently, and columns a
// definition reader does not know as virtual have no bytes in the record.
std::string myisamHeadDamage(const MyisamState& state, const MyisamHeadFacts& facts);

// Whether counts can be the state of a data file laid out as state says: a fixed-length
// file holds exactly (records + deleted) slots, a dynamic one at least 20 bytes a record.
bool plausibleStateCounts(const MyisamStateCounts& counts, const MyisamState& state);

// Reads the layout of the data file of the table whose definition is in ctx: the .MYI head
// at indexPath when it is intact; otherwise (also when it cannot be opened) the layout
// derived from the definition, with ctx.headDamage saying why (and, for a data file at
// dataPath that myisampack compressed, the compressed row format). ctx.stateCounts keeps
// the .MYI counts when they are plausible. Returns false when neither the head nor the
// definition gives a layout; ctx.headDamage says why.
// Requires: the table's definition was read into ctx.
bool loadMyisamLayout(MyisamReader& ctx, const std::filesystem::path& indexPath,
                      const std::filesystem::path& dataPath);

}  // namespace dunmore::myisam
