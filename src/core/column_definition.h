#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dunmore::core {

// One column of a table as its .frm file defines it. `value` carries the text of the
// column's value in the row being decoded.
struct ColumnDefinition {
    std::string name;
    std::uint32_t index = 0;
    std::uint32_t recordPos = 0;
    std::uint32_t typeCode = 0;
    std::int32_t geometryType = 0;
    std::int32_t length = 0;
    std::uint8_t nullable = 0;
    std::uint8_t inPrimaryKey = 0;
    std::uint8_t inUniqueKey = 0;
    std::int32_t precision = 0;
    std::int32_t decimals = 0;
    std::int32_t charset = 0;
    std::string intervalText;
    std::vector<std::string> members;
    std::string comment;
    std::string value;
    // Pack-flag facts beyond the column list above: bit 0 clear on a numeric column
    // means UNSIGNED, bit 2 ZEROFILL, bit 12 on BIT means the bits are stored as bytes.
    bool isUnsigned = false;
    bool isZerofill = false;
    std::uint16_t packFlags = 0;
    // Where the .frm places the column among the null-flag bits at the start of a record
    // (bit n is bit n % 8 of byte n / 8), counting the columns that are not stored: its
    // null flag, and the first of the bits that a BIT column keeps there (its length
    // mod 8 of them). -1: none, or not known (a definition built by hand).
    std::int32_t nullFlagBit = -1;
    std::int32_t bitFlagsBit = -1;
    // The value is SQL NULL (the text is then "NULL"). Set by the row readers so that a
    // stored text "NULL" is never mistaken for a NULL.
    bool isNull = false;
    // The value is a hexadecimal literal (0x...) of the stored bytes, written as it is:
    // a long value of a save that keeps long values inline instead of in blob files.
    bool isHexLiteral = false;
    // MySQL 8 INVISIBLE column: a table column that SELECT * leaves out.
    bool invisible = false;
};

// A generated column of a MySQL 8 table (GENERATED ALWAYS AS (expression) VIRTUAL or
// STORED). Its value is the server's to compute: it is written in the CREATE TABLE
// statement, never read from a record nor written in an INSERT. It stands in the table
// before the stored column columns[before] (after the last one when before is their
// number).
struct GeneratedColumn {
    ColumnDefinition column;
    std::string expression;
    bool stored = false;
    std::size_t before = 0;
};

// One decoded row: a copy of the table's column list with every value set.
using RowValues = std::vector<ColumnDefinition>;

// A key of the table as its .frm file defines it, kept for the CREATE TABLE statement.
struct KeyPart {
    std::uint32_t fieldNumber = 0;  // 1-based column number, 0 = none
    std::uint32_t length = 0;
};
struct KeyInfo {
    std::string name;
    bool unique = false;
    bool primary = false;
    std::vector<KeyPart> parts;
};

}  // namespace dunmore::core
