#pragma once

#include "core/byte_reader.h"
#include "core/read_only_file.h"
#include "core/status.h"

#include <cstdint>
#include <optional>

namespace dunmore::innodb {

class InnodbReader;

// What the root page of a clustered index says about instant ALTER TABLE (MariaDB
// 10.3+): FIL page type 18 with the number of core fields (n_core_fields, the fields of
// every record) in the high 13 bits of PAGE_INSTANT; the infimum and supremum texts
// where only columns were added, or, after an instant DROP COLUMN or reorder, both
// zeroed but for the supremum's last byte, which holds the null-bitmap bytes of the
// records that keep the core fields only.
struct InstantRoot {
    bool instant = false;  // page type 18
    std::uint32_t coreFields = 0;
    bool alter = false;  // the texts are zeroed (dropped or reordered columns)
    std::uint32_t coreNullBytes = 0;  // from the supremum when alter
};
// nullopt when a page of type 18 is neither of the two forms.
std::optional<InstantRoot> readInstantRoot(core::ByteSpan root);

// Reads how the records of the clustered index whose root page is rootPage and whose
// leftmost leaf is firstLeaf (both in file) were written after instant ALTER TABLE:
// ctx.instantCoreFields and ctx.instantCoreNullBytes; ctx.clusteredFields in the order
// the records hold them (the field order of the metadata BLOB after a DROP or reorder,
// dropped columns as hidden fields); and for every field past the core ones the value
// the metadata record (the hidden first record of the leftmost leaf) holds for it, its
// default (hasInstantDefault, column.value, column.isNull, instantDefaultExternal). An
// index that never went through instant ALTER is left as it is (Ok). Corrupt, saying
// what disagrees, when the root, the metadata record, its BLOB or its defaults cannot be
// read or do not fit the table's layout: the records cannot be read then, and nothing
// must be guessed. IoError when a page cannot be read.
// Requires: ctx.clusteredFields built for the table (buildColumnsFromDictionary or
// buildColumnsFromDefinition).
core::Status loadInstantLayout(InnodbReader& ctx, core::ReadOnlyFile& file,
                               std::uint32_t rootPage, std::uint32_t firstLeaf);

}  // namespace dunmore::innodb
