#pragma once

#include <cstdint>
#include <span>

#include "core/byte_reader.h"
#include "core/status.h"

namespace dunmore::innodb {

// Inflates a ROW_FORMAT=COMPRESSED index page (FIL page type 17855, 17853 or 18) of zip
// bytes (KEY_BLOCK_SIZE: 1, 2, 4, 8 or 16 KiB) into out, the page as the server works on
// it (out.size() is the tablespace's logical page size, at most 16 KiB): the FIL and
// index headers, the infimum and supremum, every record of the page (the dense
// directory's live records in their order, the deleted ones in the free list) with its
// header, the modification log applied, DB_TRX_ID and DB_ROLL_PTR, node pointers and BLOB
// references taken from the uncompressed trailer, and the sparse page directory. The
// page describes its own fields, so no table layout is needed. Corrupt, with what did not
// fit, when the page does not inflate or its parts contradict each other (out is then
// not a page). Requires: zip.size() <= out.size().
core::Status decompressZipPage(core::ByteSpan zip, std::span<std::uint8_t> out);

}  // namespace dunmore::innodb
