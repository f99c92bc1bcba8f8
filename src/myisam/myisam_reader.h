#pragma once

#include "core/read_only_file.h"
#include "core/table_reader.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dunmore::myisam {

// One column definition of a .MYI file (7 bytes: type, length, null bit, null position).
struct MyisamColumn {
    std::int16_t fieldType = 0;
    std::uint16_t fieldLength = 0;
    std::uint8_t nullBit = 0;
    std::uint16_t nullPos = 0;
    std::vector<std::uint8_t> fieldBytes;  // scratch of the dynamic-row unpacker
    std::uint32_t fieldBytesLength = 0;
};

// The row counts of a .MYI file's state information, as the server last wrote them
// (a server that did not close the table may have left them behind its data file).
struct MyisamStateCounts {
    std::uint16_t openCount = 0;       // not 0: the table was not closed cleanly
    std::uint64_t records = 0;         // live rows
    std::uint64_t deletedRecords = 0;  // deleted rows still taking space
    std::uint64_t dataFileLength = 0;  // bytes of the .MYD in use
};

// What the .MYI head says about the data file.
struct MyisamState {
    std::int32_t myisamRowFormat = 0;  // 0 fixed, 1 dynamic, 2 compressed
    bool recordChecksum = false;       // CHECKSUM=1: every record ends in a checksum byte
    std::uint64_t keyStart = 0;
    std::uint64_t maxDataFileLength = 0;
    std::uint64_t maxKeyFileLength = 0;
    std::uint64_t createRecords = 0;
    std::uint64_t createReloc = 0;
    std::uint32_t meanRowLength = 0;
    std::uint32_t myisamRecordLength = 0;  // base info recordLength (the .frm one is recordLength)
    std::uint32_t packedRecordLength = 0;
    std::uint32_t minPackLength = 0;
    std::uint32_t maxPackLength = 0;
    std::uint32_t minBlockLength = 0;
    std::uint32_t fieldCount = 0;
    std::uint32_t packFieldCount = 0;
    std::uint8_t recordRefLength = 0;
    std::uint8_t keyRefLength = 0;
    std::uint8_t keyCount = 0;
    std::uint8_t autoKey = 0;
    std::uint16_t packBits = 0;
    std::uint16_t blobCount = 0;
    std::uint16_t maxKeyBlockLength = 0;
    std::uint16_t maxKeyLength = 0;
    std::uint16_t extraAllocBytes = 0;
    std::uint8_t raidBytes[8] = {};
    std::vector<MyisamColumn> myisamColumns;
    bool nullAreaFirst = false;
    // Not empty: the .MYI head was damaged or missing (the text says how) and the fields
    // above were derived from the table's definition instead.
    std::string headDamage;
    // The counts of the .MYI state information, when they were read and are plausible.
    std::optional<MyisamStateCounts> stateCounts;
    // Not empty: the .MYI state held counts that do not fit the data file (the text says
    // so); stateCounts is empty then.
    std::string countsDamage;
    // Room for the text of one value on its way to a literal (appendDynamicRecordLiterals).
    std::string literalScratch;
};

// The reading of one MyISAM table: its definition, the .MYI head and the open .MYI and
// .MYD files. Readers of different tables can read at once on different threads.
class MyisamReader : public core::TableReader, public MyisamState {
public:
    MyisamReader() = default;
    explicit MyisamReader(core::TableDefinitionState definition)
        : core::TableReader(std::move(definition)) {}

    // A reader of the same table for another thread: the definition, the .MYI head and a
    // handle of its own on the open .MYD.
    std::unique_ptr<MyisamReader> copyForThread() const {
        auto copy = std::make_unique<MyisamReader>(static_cast<const core::TableDefinitionState&>(*this));
        static_cast<MyisamState&>(*copy) = *this;
        // A thread reads a piece of the file: a short read-ahead, so that it does not read
        // the next thread's piece too.
        copy->dataFile = dataFile.duplicate(std::size_t{256} << 10);
        return copy;
    }

    core::ReadOnlyFile dataFile;
    core::ReadOnlyFile indexFile;
};

}  // namespace dunmore::myisam
