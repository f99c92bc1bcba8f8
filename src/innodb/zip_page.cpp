// ROW_FORMAT=COMPRESSED index pages. A compressed page of Z bytes (KEY_BLOCK_SIZE) holds
// the page of L bytes (innodb_page_size) that the server works on:
//   0..93          the FIL header and the index header, as they are on the page
//   94..           a zlib stream: first, as a block of its own, the description of the
//                  index's fields, then the records in heap order (each record's null
//                  bitmap and length bytes, then its data), leaving out the 5 header
//                  bytes of every record, the infimum and supremum, DB_TRX_ID and
//                  DB_ROLL_PTR (leaf pages of a clustered index), the child page number
//                  (node-pointer pages) and the 20-byte references of externally stored
//                  fields
//   after the stream  the modification log: records written or cleared since the page
//                  was compressed, ended by a 0 byte
//   ... Z-1        backwards from the end: the dense directory (2 bytes per record, live
//                  records in key order with a deleted flag 0x8000 and an owner flag
//                  0x4000, then the free list), the left-out columns of each record in
//                  heap order (13 bytes of DB_TRX_ID and DB_ROLL_PTR, or 4 of a child
//                  page number), and below them the BLOB references of the live records.
// The field description is one byte per field (two when bit 7 is set: a fixed length of
// 63 bytes or more): 0/1 a variable-length field of at most 255 bytes, 126/127 one that
// may be longer, otherwise (length << 1); bit 0 set means NOT NULL; consecutive NOT NULL
// fixed-length fields are described as one. A last entry gives, on leaf pages, the field
// where DB_TRX_ID starts (0: a secondary index) and on node-pointer pages the number of
// nullable fields. See docs/formats/innodb.md.
#include "innodb/zip_page.h"

#define ZLIB_CONST
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace dunmore::innodb {
namespace {

constexpr std::size_t kPageData = 94;   // PAGE_DATA: end of the index header
constexpr std::size_t kZipStart = 120;  // end of the supremum: the first record space
constexpr std::size_t kInfimumOrigin = 99;
constexpr std::size_t kSupremumOrigin = 112;
constexpr std::size_t kPageDirectoryEnd = 8;  // the FIL trailer below the sparse directory
constexpr std::size_t kSlotSize = 2;
constexpr std::size_t kRecordExtra = 5;  // REC_N_NEW_EXTRA_BYTES
constexpr std::size_t kHeapNumberShift = 3;
constexpr std::uint32_t kStatusNodePointer = 1;
constexpr std::uint32_t kFirstUserHeapNumber = 2;
constexpr std::uint16_t kDenseOffsetMask = 0x3FFF;
constexpr std::uint16_t kDenseOwned = 0x4000;
constexpr std::uint16_t kDenseDeleted = 0x8000;
constexpr std::uint8_t kInfoDeleted = 0x20;
constexpr std::uint8_t kInfoMinimumRecord = 0x10;
constexpr std::size_t kTrxRollSize = 6 + 7;
constexpr std::size_t kChildPointerSize = 4;
constexpr std::size_t kExternalRefSize = 20;
constexpr std::size_t kMaxFixedLength = 768;  // longer fixed fields are stored as variable
constexpr std::size_t kMaxFields = 1023;
constexpr std::uint32_t kFilNull = 0xFFFFFFFF;
// Index header fields (absolute offsets).
constexpr std::size_t kDirSlotsField = 38;
constexpr std::size_t kHeapTopField = 40;
constexpr std::size_t kHeapRecordsField = 42;
constexpr std::size_t kRecordCountField = 54;
constexpr std::size_t kLevelField = 64;
constexpr std::size_t kPrevPageField = 8;

constexpr std::uint8_t kInfimumExtra[] = {0x01, 0x00, 0x02};
constexpr std::uint8_t kInfimumData[] = {'i', 'n', 'f', 'i', 'm', 'u', 'm', 0};
constexpr std::uint8_t kSupremumExtraData[] = {0x00, 0x0b, 0x00, 0x00, 's', 'u',
                                               'p',  'r',  'e',  'm',  'u', 'm'};

// One field of the page's own index description.
struct ZipField {
    std::uint32_t fixedLength = 0;  // 0: the record carries its length
    bool notNull = false;
    bool mayBeLong = false;  // a length entry may take two bytes
};

// Where each field of one record ends (relative to its origin), which are stored
// externally, and how many header bytes lie below the origin.
struct RecordLayout {
    std::vector<std::uint32_t> ends;
    std::vector<bool> external;
    bool anyExternal = false;
    std::size_t extraSize = 0;
    std::uint32_t dataSize() const { return ends.empty() ? 0 : ends.back(); }
    std::uint32_t start(std::size_t i) const { return i == 0 ? 0 : ends[i - 1]; }
};

class ZStream {
public:
    ZStream() = default;
    ZStream(const ZStream&) = delete;
    ZStream& operator=(const ZStream&) = delete;
    ~ZStream() {
        if (m_open) inflateEnd(&z);
    }
    bool open() {
        // A window of 32 KiB takes streams compressed with any smaller one.
        m_open = inflateInit2(&z, MAX_WBITS) == Z_OK;
        return m_open;
    }
    z_stream z{};

private:
    bool m_open = false;
};

class ZipDecompressor {
public:
    ZipDecompressor(core::ByteSpan zip, std::span<std::uint8_t> page) : m_zip(zip), m_page(page) {}

    core::Status run() {
        const std::size_t zipSize = m_zip.size();
        const std::size_t pageSize = m_page.size();
        if (zipSize < kZipStart + 1 || zipSize > pageSize)
            return fail("a compressed page of " + std::to_string(zipSize) +
                        " bytes cannot hold a page of " + std::to_string(pageSize));
        const std::uint32_t heapRecords = be16(m_zip, kHeapRecordsField) & 0x7FFF;
        if (heapRecords < kFirstUserHeapNumber)
            return fail("the heap counts fewer records than the infimum and supremum");
        m_dense = heapRecords - kFirstUserHeapNumber;
        if (std::size_t{m_dense} * kSlotSize >= zipSize)
            return fail("its dense directory of " + std::to_string(m_dense) +
                        " records exceeds the page");
        m_records = be16(m_zip, kRecordCountField);
        m_dirSlots = be16(m_zip, kDirSlotsField);
        m_leaf = be16(m_zip, kLevelField) == 0;
        if (std::size_t{m_dirSlots} * kSlotSize + kPageDirectoryEnd + kZipStart > pageSize)
            return fail("its page directory of " + std::to_string(m_dirSlots) +
                        " slots exceeds the page");
        m_lastSlot = pageSize - kPageDirectoryEnd - std::size_t{m_dirSlots} * kSlotSize;

        std::fill(m_page.begin(), m_page.end(), std::uint8_t{0});
        std::copy_n(m_zip.begin(), kPageData, m_page.begin());
        if (auto st = decodeDirectory(); !st) return st;
        writeSystemRecords();

        ZStream stream;
        if (!stream.open()) return fail("zlib could not be set up");
        m_z = &stream.z;
        m_z->next_in = m_zip.data() + kPageData;
        // The last byte is kept for the end marker of the modification log.
        m_z->avail_in = static_cast<uInt>(zipSize - kPageData - 1);
        m_z->next_out = m_page.data() + kZipStart;
        m_z->avail_out = static_cast<uInt>(pageSize - kZipStart);
        if (inflate(m_z, Z_BLOCK) != Z_OK || inflate(m_z, Z_BLOCK) != Z_OK)
            return fail("its zlib stream does not begin with the index description");
        if (auto st = decodeFields(outPosition()); !st) return st;

        if (!m_leaf) {
            m_trailerUnit = kSlotSize + kChildPointerSize;
        } else if (m_trxIdField) {
            m_trailerUnit = kSlotSize + kTrxRollSize;
        } else {
            m_trailerUnit = kSlotSize;
        }
        const std::size_t reserved = std::size_t{m_dense} * m_trailerUnit;
        if (reserved > m_z->avail_in) return fail("its uncompressed trailer exceeds the page");
        m_z->avail_in -= static_cast<uInt>(reserved);
        m_heapStatus =
            (kFirstUserHeapNumber << kHeapNumberShift) | (m_leaf ? 0 : kStatusNodePointer);
        m_z->next_out = m_page.data() + kZipStart;

        if (auto st = inflateRecords(); !st) return st;
        if (auto st = applyModificationLog(); !st) return st;
        if (m_modLogEnd + reserved >= zipSize)
            return fail("its modification log runs into the uncompressed trailer");
        if (auto st = restoreStoredColumns(); !st) return st;
        return setRecordHeaders();
    }

private:
    static std::uint16_t be16(core::ByteSpan s, std::size_t at) {
        return static_cast<std::uint16_t>(core::readBeAt(s, at, 2));
    }
    void put16(std::size_t at, std::uint32_t v) {
        m_page[at] = static_cast<std::uint8_t>(v >> 8);
        m_page[at + 1] = static_cast<std::uint8_t>(v);
    }
    static core::Status fail(const std::string& why) {
        return core::Status::corrupt("the compressed page cannot be inflated: " + why);
    }
    std::size_t outPosition() const {
        return static_cast<std::size_t>(m_z->next_out - m_page.data());
    }
    std::size_t inPosition() const { return static_cast<std::size_t>(m_z->next_in - m_zip.data()); }

    // Slot i of the dense directory, counted from the end of the compressed page.
    std::uint16_t dense(std::size_t i) const {
        return be16(m_zip, m_zip.size() - kSlotSize * (i + 1));
    }

    // The successor link of the record at origin: relative, 16-bit; 0 ends a list.
    void setNext(std::size_t origin, std::size_t next) {
        put16(origin - 2, next == 0 ? 0 : static_cast<std::uint16_t>(next - origin));
    }

    // The sparse directory from the owner flags of the dense one, and the record
    // origins in address (and heap number) order.
    core::Status decodeDirectory() {
        if (m_records > m_dense)
            return fail("it counts " + std::to_string(m_records) + " records, its directory " +
                        std::to_string(m_dense));
        const std::size_t pageSize = m_page.size();
        std::size_t slot = pageSize - kPageDirectoryEnd - kSlotSize;
        put16(slot, kInfimumOrigin);
        m_recs.assign(m_dense, 0);
        for (std::uint32_t i = 0; i < m_records; ++i) {
            const std::uint16_t entry = dense(i);
            if (entry & kDenseOwned) {
                slot -= kSlotSize;
                if (slot < m_lastSlot)
                    return fail("its directory owners exceed the page directory");
                put16(slot, entry & kDenseOffsetMask);
            }
            m_recs[i] = entry & kDenseOffsetMask;
        }
        slot -= kSlotSize;
        if (slot != m_lastSlot)
            return fail("its dense directory names " +
                        std::to_string((pageSize - kPageDirectoryEnd - slot) / 2) +
                        " directory slots, the header " + std::to_string(m_dirSlots));
        put16(slot, kSupremumOrigin);
        for (std::uint32_t i = m_records; i < m_dense; ++i) {
            const std::uint16_t entry = dense(i);
            if (entry & ~kDenseOffsetMask) return fail("a deleted record carries directory flags");
            m_recs[i] = entry;
        }
        std::sort(m_recs.begin(), m_recs.end());
        for (std::size_t i = 0; i < m_recs.size(); ++i) {
            if (m_recs[i] < kZipStart + kRecordExtra || m_recs[i] >= m_lastSlot)
                return fail("a record at offset " + std::to_string(m_recs[i]) +
                            " lies outside the record space");
            if (i > 0 && m_recs[i] < m_recs[i - 1] + kRecordExtra)
                return fail("two records at offsets " + std::to_string(m_recs[i - 1]) + " and " +
                            std::to_string(m_recs[i]) + " overlap");
        }
        return core::Status::ok();
    }

    void writeSystemRecords() {
        std::copy(std::begin(kInfimumExtra), std::end(kInfimumExtra),
                  m_page.begin() + (kInfimumOrigin - kRecordExtra));
        setNext(kInfimumOrigin, m_records == 0 ? kSupremumOrigin : (dense(0) & kDenseOffsetMask));
        std::copy(std::begin(kInfimumData), std::end(kInfimumData),
                  m_page.begin() + kInfimumOrigin);
        std::copy(std::begin(kSupremumExtraData), std::end(kSupremumExtraData),
                  m_page.begin() + (kSupremumOrigin - kRecordExtra + 1));
    }

    core::Status decodeFields(std::size_t end) {
        const core::ByteSpan description =
            core::ByteSpan(m_page).subspan(kZipStart, end - kZipStart);
        core::ByteReader r(description);
        struct Entry {
            std::uint32_t value = 0;
            bool twoBytes = false;
        };
        std::vector<Entry> values;
        while (r.remaining() > 0) {
            Entry e{r.u8(), false};
            if (e.value & 0x80) {
                e.value = ((e.value & 0x7F) << 8) | r.u8();
                e.twoBytes = true;
            }
            if (!r.ok()) return fail("its index description is cut");
            values.push_back(e);
        }
        if (values.empty() || values.size() - 1 > kMaxFields)
            return fail("its index description names " + std::to_string(values.size()) +
                        " entries");
        const std::uint32_t last = values.back().value;
        values.pop_back();
        std::uint32_t nullable = 0;
        for (const Entry& e : values) {
            const std::uint32_t v = e.value;
            // Two-byte entries are fixed lengths; in one byte 0/1 and 126/127 are
            // variable-length fields.
            ZipField f;
            f.notNull = (v & 1) != 0;
            if (e.twoBytes || (v > 1 && v < 126)) {
                f.fixedLength = v >> 1;
            } else {
                f.mayBeLong = v >= 126;
            }
            // A fixed field too long to keep its length implicit is stored as variable.
            if (f.fixedLength > kMaxFixedLength) {
                f.mayBeLong = true;
                f.fixedLength = 0;
            }
            if (!f.notNull) ++nullable;
            m_fields.push_back(f);
        }
        if (m_leaf) {
            m_nullable = nullable;
            if (last != 0) {
                if (last >= m_fields.size())
                    return fail("its DB_TRX_ID field " + std::to_string(last) +
                                " is not among its " + std::to_string(m_fields.size()) + " fields");
                m_trxIdField = last;
            }
        } else {
            if (last < nullable)
                return fail("it counts " + std::to_string(last) + " nullable fields of " +
                            std::to_string(nullable));
            m_nullable = last;
        }
        return core::Status::ok();
    }

    // The layout of the record whose header bytes come from next(k), k = 0 the first
    // null-bitmap byte, going away from the origin. False when a byte is missing.
    template <typename NextByte>
    bool layout(bool nodePointer, NextByte&& next, RecordLayout& out) const {
        out.ends.clear();
        out.external.clear();
        out.anyExternal = false;
        const std::size_t nullBytes = (m_nullable + 7) / 8;
        std::size_t k = nullBytes;
        std::uint32_t nullableSeen = 0;
        std::uint32_t offset = 0;
        const std::size_t fields = m_fields.size() + (nodePointer ? 1 : 0);
        for (std::size_t i = 0; i < fields; ++i) {
            bool external = false;
            if (nodePointer && i == m_fields.size()) {
                offset += kChildPointerSize;
            } else {
                const ZipField& f = m_fields[i];
                bool isNull = false;
                if (!f.notNull) {
                    const std::size_t byte = nullableSeen / 8;
                    if (byte >= nullBytes) return false;
                    std::uint8_t bits = 0;
                    if (!next(byte, bits)) return false;
                    isNull = (bits >> (nullableSeen % 8)) & 1;
                    ++nullableSeen;
                }
                if (!isNull) {
                    if (f.fixedLength != 0) {
                        offset += f.fixedLength;
                    } else {
                        std::uint8_t b = 0;
                        if (!next(k++, b)) return false;
                        std::uint32_t length = b;
                        if (f.mayBeLong && (b & 0x80)) {
                            std::uint8_t low = 0;
                            if (!next(k++, low)) return false;
                            length = ((std::uint32_t{b} << 8) | low) & 0x3FFF;
                            external = (b & 0x40) != 0;
                        }
                        offset += length;
                    }
                }
            }
            out.ends.push_back(offset);
            out.external.push_back(external);
            out.anyExternal = out.anyExternal || external;
        }
        out.extraSize = kRecordExtra + k;
        return true;
    }

    // The layout of a record on the page being built, from the header bytes below it.
    bool pageLayout(std::size_t origin, RecordLayout& out) const {
        const bool nodePointer = (m_page[origin - 3] & 0x07) == kStatusNodePointer;
        const auto below = [&](std::size_t k, std::uint8_t& b) {
            if (origin < kRecordExtra + 1 + k) return false;
            b = m_page[origin - kRecordExtra - 1 - k];
            return true;
        };
        if (!layout(nodePointer, below, out)) return false;
        return origin >= out.extraSize && std::size_t{origin} + out.dataSize() <= m_lastSlot;
    }

    // Inflates up to page offset target (exclusive). streamEnded: the stream ended
    // before, which is allowed only where the caller says so.
    enum class Step { Done, StreamEnded, Failed };
    Step inflateTo(std::size_t target, bool mayEnd) {
        const std::size_t at = outPosition();
        if (target < at || target > m_lastSlot) return Step::Failed;
        m_z->avail_out = static_cast<uInt>(target - at);
        const int rc = inflate(m_z, Z_SYNC_FLUSH);
        if (rc == Z_STREAM_END && mayEnd) return Step::StreamEnded;
        if ((rc == Z_OK || rc == Z_BUF_ERROR || rc == Z_STREAM_END) && m_z->avail_out == 0)
            return Step::Done;
        return Step::Failed;
    }

    void skipOut(std::size_t bytes) {
        std::fill_n(m_z->next_out, bytes, std::uint8_t{0});
        m_z->next_out += bytes;
        m_z->avail_out = 0;
    }

    core::Status inflateRecords() {
        bool ended = false;
        for (std::size_t slot = 0; slot < m_recs.size() && !ended; ++slot) {
            const std::size_t origin = m_recs[slot];
            if (origin - kRecordExtra < outPosition())
                return fail("the record at offset " + std::to_string(origin) +
                            " overlaps the one before");
            const Step head = inflateTo(origin - kRecordExtra, true);
            if (head == Step::StreamEnded) {
                // Records added since the page was compressed are in the log.
                ended = true;
                break;
            }
            if (head == Step::Failed)
                return fail("record " + std::to_string(slot) + " does not inflate");
            m_z->next_out = m_page.data() + origin;
            put16(origin - 4, m_heapStatus);
            m_heapStatus += 1u << kHeapNumberShift;
            if (!pageLayout(origin, m_layout))
                return fail("the record at offset " + std::to_string(origin) +
                            " does not fit the page");
            const std::size_t end = origin + m_layout.dataSize();
            if (!m_leaf) {
                if (m_layout.dataSize() < kChildPointerSize)
                    return fail("a node pointer without its child");
                const Step body = inflateTo(end - kChildPointerSize, true);
                if (body == Step::StreamEnded) {
                    ended = true;
                    break;
                }
                if (body == Step::Failed)
                    return fail("the node pointer at offset " + std::to_string(origin) +
                                " does not inflate");
                skipOut(kChildPointerSize);
            } else if (m_trxIdField) {
                for (std::size_t i = 0; i < m_layout.ends.size(); ++i) {
                    std::size_t skip = 0;
                    std::size_t at = 0;
                    if (i == *m_trxIdField) {
                        if (m_layout.ends[i] - m_layout.start(i) < kTrxRollSize ||
                            m_layout.external[i])
                            return fail("the record at offset " + std::to_string(origin) +
                                        " has no room for DB_TRX_ID and DB_ROLL_PTR");
                        at = origin + m_layout.start(i);
                        skip = kTrxRollSize;
                    } else if (m_layout.external[i]) {
                        if (m_layout.ends[i] - m_layout.start(i) < kExternalRefSize)
                            return fail("an externally stored field shorter than its reference");
                        at = origin + m_layout.ends[i] - kExternalRefSize;
                        skip = kExternalRefSize;
                    } else {
                        continue;
                    }
                    if (inflateTo(at, false) != Step::Done)
                        return fail("the record at offset " + std::to_string(origin) +
                                    " does not inflate");
                    skipOut(skip);
                }
                if (inflateTo(end, false) != Step::Done)
                    return fail("the record at offset " + std::to_string(origin) +
                                " does not inflate");
            }
        }
        if (!ended) {
            // The rest of the last record (secondary leaves) and what lies up to the heap
            // top: the stream must end there.
            const std::size_t heapTop = be16(m_zip, kHeapTopField);
            const std::size_t at = outPosition();
            if (heapTop < at || heapTop > m_lastSlot)
                return fail("its heap top " + std::to_string(heapTop) +
                            " does not follow its records");
            m_z->avail_out = static_cast<uInt>(heapTop - at);
            if (inflate(m_z, Z_FINISH) != Z_STREAM_END)
                return fail("its zlib stream does not end at the heap top");
        }
        m_modLogStart = inPosition();
        m_modLogLimit = m_modLogStart + m_z->avail_in + 1;
        const std::size_t at = outPosition();
        std::fill(m_page.begin() + static_cast<std::ptrdiff_t>(at),
                  m_page.begin() + static_cast<std::ptrdiff_t>(m_lastSlot), std::uint8_t{0});
        return core::Status::ok();
    }

    core::Status logFail(const std::string& why) const {
        return fail("its modification log " + why);
    }

    core::Status applyModificationLog() {
        std::size_t p = m_modLogStart;
        const std::size_t end = m_modLogLimit;
        const auto byteAt = [&](std::size_t at) -> std::optional<std::uint8_t> {
            if (at >= end || at >= m_zip.size()) return std::nullopt;
            return m_zip[at];
        };
        for (;;) {
            const auto first = byteAt(p++);
            if (!first) return logFail("has no end");
            std::uint32_t value = *first;
            if (value == 0) {
                m_modLogEnd = p - 1;
                return core::Status::ok();
            }
            if (value & 0x80) {
                const auto second = byteAt(p++);
                if (!second) return logFail("is cut");
                value = ((value & 0x7F) << 8) | *second;
                if (value == 0) return logFail("holds an empty entry");
            }
            if (p >= end) return logFail("is cut");
            const std::uint32_t index = value >> 1;
            if (index == 0 || index > m_dense)
                return logFail("names record " + std::to_string(index) + " of " +
                               std::to_string(m_dense));
            const std::size_t origin = m_recs[index - 1];
            const std::uint32_t hs =
                ((index + 1) << kHeapNumberShift) | (m_heapStatus & ((1u << kHeapNumberShift) - 1));
            if (hs > m_heapStatus) return logFail("names a record beyond the heap");
            if (hs == m_heapStatus) {
                if (value & 1) return logFail("clears a record never written");
                m_heapStatus += 1u << kHeapNumberShift;
            }
            put16(origin - 4, hs);
            if (value & 1) {
                if (!pageLayout(origin, m_layout))
                    return logFail("clears a record that does not fit the page");
                std::fill_n(m_page.begin() + static_cast<std::ptrdiff_t>(origin),
                            m_layout.dataSize(), std::uint8_t{0});
                continue;
            }
            const bool nodePointer = (hs & 0x07) == kStatusNodePointer;
            const std::size_t headerAt = p;
            const auto forward = [&](std::size_t k, std::uint8_t& b) {
                const auto v = byteAt(headerAt + k);
                if (!v) return false;
                b = *v;
                return true;
            };
            if (!layout(nodePointer, forward, m_layout)) return logFail("cuts a record header");
            const std::size_t headerBytes = m_layout.extraSize - kRecordExtra;
            if (p + headerBytes >= end) return logFail("cuts a record header");
            if (origin < m_layout.extraSize || origin + m_layout.dataSize() > m_lastSlot)
                return logFail("writes a record that does not fit the page");
            // The header bytes are logged in the order they lie below the origin.
            for (std::size_t k = 0; k < headerBytes; ++k)
                m_page[origin - kRecordExtra - 1 - k] = m_zip[p + k];
            p += headerBytes;
            const auto copy = [&](std::size_t from, std::size_t length) {
                if (p + length >= end) return false;
                std::copy_n(m_zip.begin() + static_cast<std::ptrdiff_t>(p), length,
                            m_page.begin() + static_cast<std::ptrdiff_t>(origin + from));
                p += length;
                return true;
            };
            const std::size_t data = m_layout.dataSize();
            if (m_layout.anyExternal) {
                if (nodePointer) return logFail("writes a node pointer with an external field");
                std::size_t done = 0;
                for (std::size_t i = 0; i < m_layout.ends.size(); ++i) {
                    std::size_t skipFrom = 0;
                    std::size_t skip = 0;
                    if (m_trxIdField && i == *m_trxIdField) {
                        if (m_layout.ends[i] - m_layout.start(i) < kTrxRollSize ||
                            m_layout.external[i])
                            return logFail("writes a record without room for DB_TRX_ID");
                        skipFrom = m_layout.start(i);
                        skip = kTrxRollSize;
                    } else if (m_layout.external[i]) {
                        if (m_layout.ends[i] - m_layout.start(i) < kExternalRefSize)
                            return logFail("writes an external field shorter than its reference");
                        skipFrom = m_layout.ends[i] - kExternalRefSize;
                        skip = kExternalRefSize;
                    } else {
                        continue;
                    }
                    if (!copy(done, skipFrom - done)) return logFail("is cut inside a record");
                    done = skipFrom + skip;
                }
                if (!copy(done, data - done)) return logFail("is cut inside a record");
            } else if (nodePointer) {
                if (data < kChildPointerSize || !copy(0, data - kChildPointerSize))
                    return logFail("is cut inside a node pointer");
            } else if (!m_trxIdField) {
                if (!copy(0, data)) return logFail("is cut inside a record");
            } else {
                const std::size_t at = m_layout.start(*m_trxIdField);
                if (m_layout.ends[*m_trxIdField] - at < kTrxRollSize)
                    return logFail("writes a record without room for DB_TRX_ID");
                if (!copy(0, at) || !copy(at + kTrxRollSize, data - at - kTrxRollSize))
                    return logFail("is cut inside a record");
            }
        }
    }

    bool isFree(std::size_t origin) const {
        for (std::uint32_t i = m_records; i < m_dense; ++i)
            if ((dense(i) & kDenseOffsetMask) == origin) return true;
        return false;
    }

    core::Status restoreStoredColumns() {
        if (!m_leaf) {
            std::size_t storage = m_zip.size() - std::size_t{m_dense} * kSlotSize;
            for (const std::size_t origin : m_recs) {
                if (!pageLayout(origin, m_layout) || m_layout.dataSize() < kChildPointerSize)
                    return fail("a node pointer at offset " + std::to_string(origin) +
                                " does not fit the page");
                storage -= kChildPointerSize;
                std::copy_n(m_zip.begin() + static_cast<std::ptrdiff_t>(storage), kChildPointerSize,
                            m_page.begin() + static_cast<std::ptrdiff_t>(
                                                 origin + m_layout.dataSize() - kChildPointerSize));
            }
            return core::Status::ok();
        }
        if (!m_trxIdField) return core::Status::ok();
        std::size_t storage = m_zip.size() - std::size_t{m_dense} * kSlotSize;
        std::size_t externs = storage - std::size_t{m_dense} * kTrxRollSize;
        for (const std::size_t origin : m_recs) {
            if (!pageLayout(origin, m_layout) || m_layout.ends.size() <= *m_trxIdField)
                return fail("the record at offset " + std::to_string(origin) +
                            " does not fit the page");
            const std::size_t trx = m_layout.start(*m_trxIdField);
            if (m_layout.ends[*m_trxIdField] - trx < kTrxRollSize)
                return fail("the record at offset " + std::to_string(origin) +
                            " has no room for DB_TRX_ID");
            storage -= kTrxRollSize;
            std::copy_n(m_zip.begin() + static_cast<std::ptrdiff_t>(storage), kTrxRollSize,
                        m_page.begin() + static_cast<std::ptrdiff_t>(origin + trx));
            if (!m_layout.anyExternal) continue;
            const bool live = !isFree(origin);
            for (std::size_t i = 0; i < m_layout.ends.size(); ++i) {
                if (!m_layout.external[i]) continue;
                if (m_layout.ends[i] - m_layout.start(i) < kExternalRefSize)
                    return fail("an externally stored field shorter than its reference");
                const auto at =
                    static_cast<std::ptrdiff_t>(origin + m_layout.ends[i] - kExternalRefSize);
                if (!live) {
                    std::fill_n(m_page.begin() + at, kExternalRefSize, std::uint8_t{0});
                    continue;
                }
                if (externs < m_modLogEnd + kExternalRefSize)
                    return fail("its BLOB references run into the modification log");
                externs -= kExternalRefSize;
                std::copy_n(m_zip.begin() + static_cast<std::ptrdiff_t>(externs), kExternalRefSize,
                            m_page.begin() + at);
            }
        }
        return core::Status::ok();
    }

    // The 5 header bytes of every record: info bits, owned counts and the chain links
    // (live records in key order, then the free list).
    core::Status setRecordHeaders() {
        std::uint8_t info = 0;
        if (!m_leaf && core::readBeAt(m_zip, kPrevPageField, 4) == kFilNull)
            info = kInfoMinimumRecord;
        std::uint8_t owned = 1;
        std::size_t rec = kInfimumOrigin;
        for (std::uint32_t i = 0; i < m_records; ++i) {
            std::uint16_t entry = dense(i);
            if (entry & kDenseDeleted) info |= kInfoDeleted;
            if (entry & kDenseOwned) {
                info |= owned;
                owned = 1;
            } else {
                ++owned;
            }
            const std::size_t offset = entry & kDenseOffsetMask;
            setNext(rec, offset);
            rec = offset;
            m_page[rec - kRecordExtra] = info;
            info = 0;
        }
        setNext(rec, kSupremumOrigin);
        m_page[kSupremumOrigin - kRecordExtra] = owned;
        if (m_records == m_dense) return core::Status::ok();
        std::size_t free = dense(m_records);
        for (std::uint32_t i = m_records;;) {
            if (free == 0) return fail("its free list names offset 0");
            rec = free;
            m_page[rec - kRecordExtra] = 0;
            if (++i == m_dense) break;
            free = dense(i);
            setNext(rec, free);
        }
        setNext(rec, 0);
        return core::Status::ok();
    }

    core::ByteSpan m_zip;
    std::span<std::uint8_t> m_page;
    z_stream* m_z = nullptr;
    std::uint32_t m_dense = 0;
    std::uint32_t m_records = 0;
    std::uint32_t m_dirSlots = 0;
    std::size_t m_lastSlot = 0;
    bool m_leaf = true;
    std::vector<std::uint32_t> m_recs;
    std::vector<ZipField> m_fields;
    std::uint32_t m_nullable = 0;
    std::optional<std::size_t> m_trxIdField;
    std::size_t m_trailerUnit = 0;
    std::uint32_t m_heapStatus = 0;
    std::size_t m_modLogStart = 0;
    std::size_t m_modLogLimit = 0;
    std::size_t m_modLogEnd = 0;
    RecordLayout m_layout;
};

}  // namespace

core::Status decompressZipPage(core::ByteSpan zip, std::span<std::uint8_t> out) {
    return ZipDecompressor(zip, out).run();
}

}  // namespace dunmore::innodb
