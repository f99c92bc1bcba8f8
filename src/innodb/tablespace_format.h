#pragma once

#include <cstdint>
#include <string>

#include "core/read_only_file.h"
#include "core/status.h"
#include "innodb/page.h"
#include "innodb/page_check.h"
#include "innodb/page_compression.h"

namespace dunmore::innodb {

// How the pages of one tablespace are stored, from the space flags of its page 0 (and
// the MariaDB encryption data after its extent descriptors).
struct TablespaceFormat {
    // A page as the server works on it (innodb_page_size).
    std::uint32_t pageSize = kDefaultPageSize;
    // One page in the file: pageSize, or KEY_BLOCK_SIZE for ROW_FORMAT=COMPRESSED.
    std::uint32_t physicalPageSize = kDefaultPageSize;
    // ROW_FORMAT=COMPRESSED: index pages are zip pages (also at KEY_BLOCK_SIZE=16 with
    // 16 KiB pages), every page carries the compressed-page checksum.
    bool zip = false;
    // MariaDB's full_crc32 layout (10.5+).
    bool fullCrc32 = false;
    // The tablespace of a DYNAMIC or COMPRESSED table (the atomic-blobs bit of the space
    // flags). Servers that write such tablespaces, and every full_crc32 one, mark each
    // page of a BLOB chain with its type; older ones could leave the type of a BLOB page
    // as it found it.
    bool atomicBlobs = false;
    // The page compression algorithm the full_crc32 flags name (None: not compressed);
    // pages of other layouts name their own.
    PageCompression compression = PageCompression::None;
    // MariaDB encryption data is on page 0 (cryptData), and says the pages are
    // encrypted, with key keyId; or MySQL's encryption flag is set.
    bool cryptData = false;
    bool encrypted = false;
    std::uint32_t keyId = 0;
    bool mysqlEncryption = false;

    // Whether pages of the tablespace may need more than a read and checkPage (a page of
    // type 34354 is decompressed wherever it is met).
    bool transforms() const { return zip || compression != PageCompression::None || cryptData; }
    // Why the tablespace cannot be read at all (encrypted), empty when it can.
    std::string unreadableReason() const;
};

// The format of an uncompressed, unencrypted tablespace of pages of pageSize bytes.
TablespaceFormat plainFormat(std::uint32_t pageSize);

// The format of the tablespace in file: the page size as tablespacePageSize finds it,
// and for ROW_FORMAT=COMPRESSED flags (bits 1..4, KEY_BLOCK_SIZE = 512 << n) the physical
// size when the file's pages 1 to 3 carry their numbers at it; the full_crc32 compression
// algorithm (bits 5..7); the encryption data of page 0. A file whose flags do not fit it
// reads as plain pages of the size its page numbers give.
TablespaceFormat readTablespaceFormat(core::ReadOnlyFile& file);

// Whole pages in a file of fileLength bytes.
inline std::uint64_t pageCount(std::uint64_t fileLength, const TablespaceFormat& format) {
    return fileLength / format.physicalPageSize;
}

// Reads page n of file, a tablespace of the given format, into out (format.pageSize
// bytes): for plain pages the bytes of the file (as readPage), for a ROW_FORMAT=COMPRESSED
// index page the inflated page (decompressZipPage), for its other pages the stored bytes
// followed by zeros, for a page-compressed page the decompressed page. Returns the
// verification of the page as stored: checkPage for plain pages (and for the page a
// compressed page of the crc32/innodb layouts decompresses to), the compressed-page
// checksum for zip pages, the CRC-32C of the stored size for full_crc32 compressed pages.
// A page that cannot be decompressed, or that is encrypted, is Damaged with the reason;
// out then holds the stored headers at least (FIL header, and for zip pages the index
// header). IoError when the file is not open. Requires: out.size() == format.pageSize.
core::Result<PageCheck> readTablespacePage(core::ReadOnlyFile& file, const TablespaceFormat& format,
                                           std::uint32_t page, PageBuffer out);

// The FIL header of page n as stored (the next and previous pages of every page, the
// page type of uncompressed ones), read at the physical page size.
core::Result<FilHeader> readStoredFilHeader(core::ReadOnlyFile& file,
                                            const TablespaceFormat& format, std::uint32_t page);

}  // namespace dunmore::innodb
