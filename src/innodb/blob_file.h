#pragma once

#include "core/byte_reader.h"
#include "core/read_only_file.h"
#include "innodb/innodb_reader.h"
#include "core/settings.h"
#include "core/status.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace dunmore::innodb {

// The 20 bytes that end an externally stored field: where the rest of the value lives.
struct ExternalReference {
    std::uint32_t spaceId = 0;
    std::uint32_t pageNumber = 0;
    std::uint32_t offset = 0;      // of the first part's header in its page
    std::uint64_t length = 0;      // bytes stored off-page (the low half of the length)
};

inline constexpr std::size_t kExternalReferenceSize = 20;

// The reference at the end of a field; nullopt when the field is shorter than one.
std::optional<ExternalReference> readExternalReference(core::ByteSpan field);

// Receives the off-page data of a value part by part; false stops the copy.
using ExternalPartSink = std::function<bool(core::ByteSpan part)>;

// Follows the part chain of ref through file (pageCount pages of pageSize bytes) and hands
// each part's data to sink, with one page in memory, and returns the number of bytes
// handed on: the reference's length. Every part page must verify: a value part of whose
// bytes the server did not write, or whose chain ends (0xFFFFFFFF), leaves the file, comes
// back to a page or runs out before the reference's length, is Corrupt (what was handed
// on stays handed on). An unreadable page is an IoError. A sink that returns false ends
// the copy there (the bytes handed on so far are returned). A tablespace of another
// format (copyExternalParts below) reads its BLOB pages as readTablespacePage does
// (page-compressed ones decompressed, then verified).
core::Result<std::uint64_t> copyExternalParts(core::ReadOnlyFile& file, std::uint32_t pageSize,
                                              std::uint64_t pageCount,
                                              const ExternalReference& ref,
                                              const ExternalPartSink& sink);

// The same in a tablespace of the given format. In a ROW_FORMAT=COMPRESSED tablespace the
// off-page part is one zlib stream over a chain of compressed BLOB pages (type 11, then
// 12), each at KEY_BLOCK_SIZE bytes: the next page number at the reference's offset (12,
// the FIL header's next-page field) and the stream from byte 38; the copy hands on the
// inflated bytes and ends at the reference's length or the stream's end. Corrupt when a
// page of that chain fails its checksum, is of another type or the stream does not
// inflate (what was handed on stays handed on). MySQL 8 keeps such a value as a
// compressed LOB instead (first page type 25), read by copyZlobParts. Where the servers
// mark every BLOB page (full_crc32, atomic blobs) a part page of another type is Corrupt;
// sdiRecord: the value is an SDI record of MySQL 8, whose part pages are SDI BLOB pages
// (type 18, which in a MariaDB tablespace is the root page of an instantly altered index).
core::Result<std::uint64_t> copyExternalParts(core::ReadOnlyFile& file,
                                              const TablespaceFormat& format,
                                              std::uint64_t pageCount, const ExternalReference& ref,
                                              const ExternalPartSink& sink, bool sdiRecord = false);

// The tablespace that holds the table's pages (and so its off-page parts):
// tablespaceFile while tablespaceSelected is set, else systemTablespace.
core::ReadOnlyFile& externalPartsFile(InnodbReader& ctx, std::uint64_t& pageCount);

// Writes the whole value of an externally stored field (its in-record prefix, then the
// off-page parts in chain order) to the file savingFolder/blobdata/<blobFileCounter> and
// increments blobFileCounter; a name another file has already is passed over (the file
// is created only where none is). Returns the file's path, or the empty text when the
// file cannot be created or the value cannot be read whole (no file is left then, and
// read, when given, receives why). Requires: field holds the whole in-record part,
// reference included.
std::string extractExternalBlob(InnodbReader& ctx, core::AppSettings& settings,
                                core::ByteSpan field, core::Status* read = nullptr);

// Reads the whole value of an externally stored field into out (prefix, then the parts).
// A damaged chain gives what could be read, and its status says why it is not whole.
core::Status readExternalValue(InnodbReader& ctx, core::ByteSpan field, core::Bytes& out);

// One more than the highest number among the blob files under savingFolder (0 when
// there are none): where a save's numbers start so that they follow an earlier save's.
std::uint64_t nextFreeBlobNumber(const std::string& savingFolder);

// The path of blob file number n under savingFolder.
std::string blobFilePath(const std::string& savingFolder, std::uint64_t number);

}  // namespace dunmore::innodb
