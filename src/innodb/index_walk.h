#pragma once

#include "core/byte_reader.h"
#include "core/main_frame.h"
#include "innodb/innodb_reader.h"
#include "values/row_text.h"
#include "values/value_decoder.h"
#include "core/settings.h"
#include "core/status.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace dunmore::innodb {

// Which open tablespace of the reader a walk reads.
enum class TablespaceSlot { SystemTablespace, TablespaceFile };

core::ReadOnlyFile& slotFile(InnodbReader& ctx, TablespaceSlot slot);
std::uint64_t slotPageCount(const InnodbReader& ctx, TablespaceSlot slot);
// How the slot's file stores its pages: the table's tablespace format for its .ibd,
// plain pages for ibdata1.
TablespaceFormat slotFormat(const InnodbReader& ctx, TablespaceSlot slot);

// Offset, from a node-pointer record's origin, of the child page number: the summed
// lengths of the clustering key fields (the fields before the system columns; 6 for the
// hidden row id). Requires: ctx.clusteredFields is the table's layout.
std::uint32_t childPointerOffset(const InnodbReader& ctx, core::ByteSpan page,
                                 std::uint32_t origin, std::uint32_t nullBitmapSize);

// Descends from rootPage through the leftmost node pointers to the leftmost leaf of the
// clustered index in the slot's file. 0 when a page on the way is damaged (checkPage),
// is not a compact index page, is empty, names a child out of range, or the levels do not
// go down.
std::uint32_t findLeftmostLeaf(InnodbReader& ctx, TablespaceSlot slot,
                               std::uint32_t rootPage);

// Where the leaf chain of the clustered index at rootPage can be cut into pieces of about
// leavesPerPiece leaves, to be read at once: the first leaf of each piece, in key order,
// as the node pointers of the level above the leaves name them (its leftmost page, found
// from the root, along its own chain). The first is firstLeaf. Empty when the index has
// one level, when a page on the way is damaged, of another index or level, or not in the
// compact format, or when the pointers do not begin at firstLeaf: the leaves are then
// read in one walk. The starts are what the parents say; whoever reads a piece checks
// that the leaf chain leads from its start to the next one.
std::vector<std::uint32_t> leafPieceStarts(InnodbReader& ctx, TablespaceSlot slot,
                                           std::uint32_t rootPage, std::uint32_t firstLeaf,
                                           std::uint32_t leavesPerPiece);

// The null-bitmap size of the layout's compact records; also marks the copied column of
// every nullable field as nullable.
std::uint32_t prepareWalkLayout(InnodbReader& ctx);

// Decodes the compact leaf record at origin (field area fieldAreaLength bytes) into the
// value (and isNull) of each column of ctx.columns that the layout names. Fields past the
// field area, or whose header entries would lie before the page start, get the empty
// text; a field reaching past the page end is cut there. False when the record did not
// parse so (its values are not the stored ones and must not be used as a row).
bool decodeLeafRecord(InnodbReader& ctx, core::AppSettings& settings,
                      core::ByteSpan page, std::uint32_t origin, std::uint32_t fieldAreaLength,
                      std::uint32_t nullBitmapSize);

// How the SQL literals of a table's leaf records are made straight from their bytes,
// worked out once per table: per field of ctx.clusteredFields, whether it is a system
// field (no literal), an integer, a UTF-8 character value or a value of
// values::storedValueForm whose literal is written from the stored bytes, or another
// value, decoded and then made a literal. Usable only
// when the fields name every column once, in column order (the key columns first), and
// the table is not read from a MySQL 8 dictionary.
struct RecordLiteralPlan {
    enum class Step : std::uint8_t { Skip, Integer, Utf8Text, StoredValue, Value };
    struct Field {
        Step step = Step::Value;
        bool unsignedInteger = false;
        bool trimBlanks = false;  // CHAR: the blanks that pad it are not part of the value
        values::StoredValueForm form;  // StoredValue
    };
    std::vector<Field> fields;
    bool usable = false;
};
RecordLiteralPlan planRecordLiterals(const InnodbReader& ctx);

// Appends the SQL literals of the leaf record's values, each followed by its comma, in
// column order: the bytes that decodeLeafRecord and then values::appendSqlLiteral of each
// of ctx.columns append, without the texts of the values in between where the plan
// allows. Records the plan does not cover take that way. False exactly when
// decodeLeafRecord is false: out then holds part of a row, which the caller cuts off.
bool appendLeafRecordLiterals(InnodbReader& ctx, core::AppSettings& settings,
                              const RecordLiteralPlan& plan, core::ByteSpan page, std::uint32_t origin,
                              std::uint32_t fieldAreaLength, std::uint32_t nullBitmapSize,
                              std::string_view savingFolder, values::RowText& out);

// Where the decoding of one compact record stands: the null bitmap's first byte and the
// nullable fields met, the next length entry (moving down), the next field's data and
// the field bytes consumed; headerLost once a header entry lay outside the page, intact
// while every field was found whole.
struct RecordCursor {
    std::int64_t nullBase = 0;
    std::int64_t lengthCursor = 0;
    std::uint64_t data = 0;
    std::uint64_t consumed = 0;
    std::uint32_t nullableSeen = 0;
    bool headerLost = false;
    bool intact = true;
};

// Decodes the next stored field f of a compact record at the cursor into target (null:
// the field is passed over) and moves the cursor past it. A field past the field area or
// whose header entries are lost gets the empty text and clears intact.
void decodeStoredField(InnodbReader& ctx, core::AppSettings& settings,
                       core::ByteSpan page, std::uint32_t fieldAreaLength,
                       const core::InnodbColumn& f, core::ColumnDefinition* target,
                       RecordCursor& at);

// The clustering key of a compact record: the stored bytes of each key field (the fields
// before DB_TRX_ID, or the 6-byte DB_ROW_ID), in key order; for a node pointer also the
// child page number after them.
struct ClusterKey {
    std::vector<std::string> fields;
    std::uint32_t childPage = 0;
    bool operator==(const ClusterKey& o) const { return fields == o.fields; }
    // The order of the stored bytes (integers and dates compare as InnoDB stores them;
    // text by its bytes).
    bool operator<(const ClusterKey& o) const { return fields < o.fields; }
};
// The null-bitmap size of the node pointers of the index whose root page image is root:
// the whole layout's, or the core fields' after an instant ALTER (page type 18).
std::uint32_t nodePointerNullBitmapSize(InnodbReader& ctx, core::ByteSpan root);
// Reads the key of the record at origin of a leaf page (or a node-pointer page). nullopt
// when a length entry or field would lie outside the page.
std::optional<ClusterKey> readClusterKey(const InnodbReader& ctx, core::ByteSpan page,
                                         std::uint32_t origin, std::uint32_t nullBitmapSize,
                                         bool nodePointer);

// What a leaf walk met.
struct LeafWalkCounts {
    std::uint64_t pagesVisited = 0;
    std::uint64_t recordsTaken = 0;
    std::uint64_t deletedSkipped = 0;
    // Leaf pages of the chain whose records are not in the compact format (a REDUNDANT
    // table): their rows are not read.
    std::uint64_t otherFormatPages = 0;
    // Pages whose record chain reached fewer records than the page header counts, and
    // how many fewer.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> unreachedRecords;
    // Leaf pages whose records were taken, in chain order.
    std::vector<std::uint32_t> pagesRead;
    // Pages verified, by the checksum algorithm that matched (PageChecksum order:
    // crc32, innodb, none, full_crc32).
    std::array<std::uint64_t, 4> checksums{};
    // The chain ended before its end (FIL_NULL), not at a stop or an empty first leaf:
    // the page where it broke and why.
    bool broken = false;
    std::uint32_t brokenPage = kFilNull;
    std::string brokenReason;
    // The walk ended before this page, unvisited: options.endPage (reachedEnd set), or
    // the page that beforePage refused. kFilNull when it ended otherwise.
    std::uint32_t endedBefore = kFilNull;
    bool reachedEnd = false;
};

// Adds the counts of part, a walk that went on where total's left off, to total, as one
// walk over both would have counted them.
void addWalkCounts(LeafWalkCounts& total, const LeafWalkCounts& part);

// Pages already met by one walk: a bitmap for files of ordinary size, a set beyond.
class VisitedPages {
public:
    explicit VisitedPages(std::uint64_t pageCount);
    // True when page was met before; marks it.
    bool testAndSet(std::uint32_t page);

private:
    std::vector<bool> m_bits;
    std::unordered_set<std::uint32_t> m_set;
};

// One live record handed to the walk's consumer. successor is the origin of the next
// record in the page chain (16384 or more when the page has no further record).
struct LeafRecord {
    std::uint32_t page = 0;
    std::uint32_t origin = 0;
    std::uint32_t fieldAreaLength = 0;
    std::uint32_t successor = 0;
};

// The leaf-chain walk shared by the preview and the streams.
struct LeafWalkOptions {
    TablespaceSlot slot = TablespaceSlot::TablespaceFile;
    std::uint32_t firstPage = 0;
    // Start the first page at this record offset instead of its first record (0: none).
    std::uint32_t resumeOffset = 0;
    // Called before each page with the number of pages visited so far; false ends the
    // walk (a stop request).
    std::function<bool(std::uint64_t pagesVisited)> beforePage;
    // Called at the end of each page whose records were all taken (the walk goes on).
    std::function<void()> afterPage;
    // Keeps the FIL header of each page in ctx.lastFilHeader.
    bool keepLastFilHeader = false;
    // Verifies each page (checkPage) and that it is an index page; a page that fails
    // breaks the chain.
    bool verifyPages = true;
    // The clustered index's id when known (0: taken from the first page).
    std::uint64_t indexId = 0;
    // The walk ends before this page, as if the chain ended there (kFilNull: none): the
    // start of the next piece of a chain read in pieces.
    std::uint32_t endPage = kFilNull;
};

// Walks the leaf chain from options.firstPage and hands every live record to onRecord,
// which returns false to end the walk. Delete-marked records and the instant-ALTER
// metadata record are passed over and counted (deleted ones only). The walk ends at
// the chain's end (0xFFFFFFFF), at a page number not below the file's page count (and at
// page 0 in the system tablespace), at a page met twice, at a page whose previous and
// next links are equal (file-per-table tablespaces), at an index page that belongs to
// another index or level, at a damaged page or one that is not an index page (with
// verifyPages), at an empty leaf, or after as many pages as the file has; counts.broken
// says whether it ended before the chain's end and where. Within a page at most 1,501
// records are taken and no record is visited twice. IoError when a page cannot be read.
// Pages that counts already lists as read (an earlier part of the same walk) count as
// met, and the other counts go on from where they stand.
core::Status walkLeafChain(InnodbReader& ctx, const LeafWalkOptions& options,
                           const std::function<bool(core::ByteSpan page, const LeafRecord&)>& onRecord,
                           LeafWalkCounts& counts);

// The rows of one preview screen: appends up to limit rows to ctx.previewRows starting at
// (startPage, resumeOffset; the offset is used while settings.resumeAtOffset is set). At
// limit rows it sets ctx.moreRows and, unless ctx.keepPositions is set, pushes the next
// record's position onto ctx.pageStack. settings.resumeAtOffset is cleared at the end of
// every page finished. Returns true.
inline constexpr std::size_t kPreviewScreenRows = 1000;
bool loadPreviewRows(InnodbReader& ctx, core::AppSettings& settings,
                     TablespaceSlot slot, std::uint32_t startPage, std::uint64_t resumeOffset,
                     std::size_t limit = kPreviewScreenRows);

// Where a table's clustered index was found, or why it was not.
enum class TableLookup {
    Found,
    NoTablespace,           // neither the table's .ibd nor ibdata1 is open
    TablespaceFileMissing,  // the dictionary puts the table in its own .ibd, which is not there
    TableIdNotFound,        // not in SYS_TABLES
    ClusterPageNotFound,    // no clustered index in SYS_INDEXES
    LeafPageNotFound,       // the descent from the root found no leaf
    // The records cannot be read with the table's layout (the instant ALTER metadata
    // does not agree with it), or its tablespace cannot be read at all (encrypted):
    // reading them would give guessed values.
    LayoutUnreadable,
};
struct TableStart {
    TableLookup lookup = TableLookup::NoTablespace;
    std::uint32_t firstLeaf = 0;
    bool inOwnFile = false;  // the pages are in the .ibd (tablespaceSelected while reading)
    std::string problem;     // why, for LayoutUnreadable
};

// Locates a table's pages: opens dbFolder/tableName.ibd read-only into tablespaceFile
// (closing what the slot held) and, by which of it and ibdata1 are open, builds the
// column layout from the definition (.ibd alone, root page 3) or from the dictionary
// (root from SYS_INDEXES), then descends to the leftmost leaf in the file that holds the
// table. The dictionary key is the database folder's name, a separator and tableName.
// After instant ALTER TABLE the layout follows the table's metadata record
// (loadInstantLayout); when that cannot be read the lookup is LayoutUnreadable, with no
// leaf, layout or root left to read from.
// Requires: ctx.columns holds the table's definition (readTableDefinition).
TableStart locateInnodbTable(InnodbReader& ctx, const std::filesystem::path& dbFolder,
                             const std::string& tableName);

// locateInnodbTable for the save jobs: logs "Opening File\t" + the .ibd path, and on a
// failed lookup one of "Table id not found.", "Cluster page number not found." or
// "Leaf page number not found." (each with "\r\n"), or "Tablespace file not found.\r\n"
// when the dictionary names an .ibd that cannot be opened; nothing when neither file is
// there. A layout that cannot be read is logged as "Records of <tableName> cannot be
// read: <why>.\r\n" and its why put in problem (when given).
// True when firstLeaf names the table's first leaf; inOwnFile then says whether the
// .ibd variants of the streams (and tablespaceSelected) apply.
bool prepareInnodbTable(core::MainFrame& frame, InnodbReader& ctx, const std::filesystem::path& dbFolder,
                        const std::string& tableName, std::uint32_t& firstLeaf, bool& inOwnFile,
                        std::string* problem = nullptr);

}  // namespace dunmore::innodb
