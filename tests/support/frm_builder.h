#pragma once

// Hand-built .frm images for the reader's edge cases and failure paths.
//
//   FrmBuilder b;
//   b.column("id", 3, 11).packFlags = 0x401b;
//   auto image = b.build();          // image.bytes, image.formPos, ...
//
// The layout follows the real format: 64-byte header, the form-name block with the
// form position, the key section, the 288-byte form information block, then screens,
// column records, the column-name list, the member lists and the comments.

#include "core/byte_reader.h"
#include "schema/collation_table.h"
#include "support/fixture.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace dunmore::test {

struct FrmColumnDef {
    std::string name;
    std::uint8_t typeCode = 3;
    std::uint16_t length = 11;
    std::uint32_t recordPos = 0;  // 0: placed after the previous column
    std::uint16_t packFlags = 0x0001;
    std::uint16_t charset = 8;
    std::uint8_t intervalNumber = 0;
    std::uint8_t geometryType = 0;
    std::string comment;
};

struct FrmKeyDef {
    std::string name;
    bool unique = false;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> parts;  // field number, length
};

struct FrmImage {
    core::Bytes bytes;
    std::size_t formPos = 0;
    std::size_t keyOffset = 0;
    std::size_t columnSection = 0;  // first column record
    std::size_t namesOffset = 0;
};

inline void putU16le(core::Bytes& b, std::size_t pos, std::uint32_t v) {
    if (pos + 2 > b.size()) b.resize(pos + 2);
    b[pos] = static_cast<std::uint8_t>(v);
    b[pos + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void putU24le(core::Bytes& b, std::size_t pos, std::uint32_t v) {
    putU16le(b, pos, v & 0xFFFF);
    if (pos + 3 > b.size()) b.resize(pos + 3);
    b[pos + 2] = static_cast<std::uint8_t>(v >> 16);
}
inline void putU32le(core::Bytes& b, std::size_t pos, std::uint32_t v) {
    putU16le(b, pos, v & 0xFFFF);
    putU16le(b, pos + 2, v >> 16);
}
inline core::Bytes truncateAt(core::Bytes b, std::size_t size) {
    if (b.size() > size) b.resize(size);
    return b;
}

// A separator list as MySQL writes it: 0xFF before each item, 0xFF 0x00 at the end.
inline std::string nameList(const std::vector<std::string>& items) {
    if (items.empty()) return std::string(1, '\0');
    std::string out;
    for (const auto& item : items) out += "\xFF" + item;
    out += "\xFF";
    out.push_back('\0');
    return out;
}

class FrmBuilder {
public:
    std::uint8_t version = 10;
    std::uint8_t engine = 9;
    std::uint16_t tableCharset = 8;
    std::uint8_t oldCharsetLayout = 0;  // header byte 32
    std::uint16_t createOptions = 0;
    std::uint32_t mysqlVersion = 101119;
    std::uint16_t recordLength = 0;  // 0: computed
    std::uint16_t formNames = 1;
    std::uint16_t screensLength = 7;
    std::vector<FrmColumnDef> columns;
    std::vector<std::vector<std::string>> intervals;
    std::vector<FrmKeyDef> keys;
    // Declared counts that differ from the real ones (damage).
    int declaredFieldCount = -1;
    int declaredKeyParts = -1;
    // Raw column-name list in place of the built one.
    std::string rawNames;
    // The block at offset 64 (MariaDB's extra2 segment); empty: four zero bytes.
    std::string extra2;
    // Version 11 expression section after the comments (16-byte head and entries).
    std::string expressions;

    FrmColumnDef& column(std::string name, std::uint8_t type, std::uint16_t length,
                          std::uint16_t packFlags = 0x0001, std::uint16_t charset = 8) {
        FrmColumnDef c;
        c.name = std::move(name);
        c.typeCode = type;
        c.length = length;
        c.packFlags = packFlags;
        c.charset = charset;
        columns.push_back(c);
        return columns.back();
    }

    FrmImage build() const {
        const bool newLayout = version >= 9;
        const std::size_t recordSize = newLayout ? 17 : 11;
        FrmImage img;
        core::Bytes& b = img.bytes;
        b.assign(64, 0);
        b[0] = 0xFE;
        b[1] = 0x01;
        b[2] = version;
        b[3] = engine;
        const std::size_t formBlock = extra2.empty() ? 4 : extra2.size();  // L
        putU16le(b, 4, formBlock);
        putU16le(b, 8, formNames);
        putU16le(b, 30, createOptions);
        b[32] = oldCharsetLayout;
        b[38] = static_cast<std::uint8_t>(tableCharset);
        b[41] = static_cast<std::uint8_t>(tableCharset >> 8);
        putU32le(b, 51, mysqlVersion);
        b.resize(64 + formBlock + 4 * formNames, 0);
        std::copy(extra2.begin(), extra2.end(), b.begin() + 64);

        // Key section.
        img.keyOffset = b.size();
        core::Bytes k(6, 0);
        std::size_t partCount = 0;
        for (const auto& key : keys) partCount += key.parts.size();
        k[0] = static_cast<std::uint8_t>(keys.size());
        k[1] = static_cast<std::uint8_t>(declaredKeyParts >= 0 ? declaredKeyParts : partCount);
        for (const auto& key : keys) {
            const std::uint16_t flags = key.unique ? 0 : 1;  // stored inverted
            if (version >= 9) {
                const std::size_t at = k.size();
                putU16le(k, at, flags);
                putU16le(k, at + 2, 4);
                k.push_back(static_cast<std::uint8_t>(key.parts.size()));
                k.push_back(0);
                putU16le(k, k.size(), 0);
            } else {
                k.push_back(static_cast<std::uint8_t>(flags));
                putU16le(k, k.size(), 4);
                k.push_back(static_cast<std::uint8_t>(key.parts.size()));
            }
            for (const auto& [field, length] : key.parts) {
                putU16le(k, k.size(), field | 0x4000);  // high bits are not the number
                putU16le(k, k.size(), 1);
                if (version >= 7) {
                    k.push_back(0);
                    putU16le(k, k.size(), 0);
                    putU16le(k, k.size(), length);
                } else {
                    k.push_back(static_cast<std::uint8_t>(length));
                    putU16le(k, k.size(), 0);
                }
            }
        }
        std::vector<std::string> keyNames;
        for (const auto& key : keys) keyNames.push_back(key.name);
        const std::string kn = nameList(keyNames);
        k.insert(k.end(), kn.begin(), kn.end());
        putU16le(b, 6, img.keyOffset);
        putU16le(b, 28, k.size());
        b.insert(b.end(), k.begin(), k.end());

        // Form information block.
        img.formPos = b.size();
        putU32le(b, 64 + formBlock, img.formPos);
        b.resize(img.formPos + 288, 0);
        std::vector<std::string> names;
        std::string comments;
        for (const auto& c : columns) {
            names.push_back(c.name);
            comments += c.comment;
        }
        const std::string nl = rawNames.empty() ? nameList(names) : rawNames;
        std::string il;
        std::size_t members = 0;
        for (const auto& list : intervals) {
            il += nameList(list);
            members += list.size();
        }
        putU16le(b, img.formPos + 258, declaredFieldCount >= 0 ? declaredFieldCount : columns.size());
        putU16le(b, img.formPos + 260, screensLength);
        std::uint32_t pos = 1;
        std::vector<std::uint32_t> positions;
        for (const auto& c : columns) {
            positions.push_back(c.recordPos ? c.recordPos : pos);
            pos = positions.back() + std::max<std::uint32_t>(1, c.length);
        }
        putU16le(b, img.formPos + 266, recordLength ? recordLength : pos);
        putU16le(b, img.formPos + 268, nl.size());
        putU16le(b, img.formPos + 270, intervals.size());
        putU16le(b, img.formPos + 272, members);
        putU16le(b, img.formPos + 274, il.size());
        putU16le(b, img.formPos + 284, comments.size());
        putU16le(b, img.formPos + 286, expressions.size());

        // Column section.
        b.resize(b.size() + screensLength, 0x20);
        img.columnSection = b.size();
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const auto& c = columns[i];
            const std::size_t at = b.size();
            b.resize(at + recordSize, 0);
            if (newLayout) {
                putU16le(b, at + 3, c.length);
                putU24le(b, at + 5, positions[i]);
                putU16le(b, at + 8, c.packFlags);
                b[at + 11] = static_cast<std::uint8_t>(c.charset >> 8);
                b[at + 12] = c.intervalNumber;
                b[at + 13] = c.typeCode;
                b[at + 14] = c.typeCode == 255 ? c.geometryType
                                               : static_cast<std::uint8_t>(c.charset);
                putU16le(b, at + 15, c.comment.size());
            } else {
                b[at + 3] = static_cast<std::uint8_t>(c.length);
                putU16le(b, at + 4, positions[i]);
                putU16le(b, at + 6, c.packFlags);
                b[at + 10] = c.intervalNumber;
            }
        }
        img.namesOffset = b.size();
        b.insert(b.end(), nl.begin(), nl.end());
        b.insert(b.end(), il.begin(), il.end());
        b.insert(b.end(), comments.begin(), comments.end());
        b.insert(b.end(), expressions.begin(), expressions.end());
        return img;
    }
};

inline void writeBytes(const std::filesystem::path& path, const core::Bytes& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A database "alltypes" with every column type the .frm format knows, in MyISAM, InnoDB
// and Aria tables, made by the real server: all integer widths signed and unsigned,
// DECIMAL up to (65,30), FLOAT/DOUBLE with and without decimals, every temporal type
// with each fractional-second precision, BIT(1..64), CHAR/VARCHAR/TEXT in latin1,
// utf8mb3, utf8mb4, binary and the wide sets, every BLOB size, ENUM/SET with quotes,
// backslashes, empty and non-ASCII members, geometry, JSON, comments, non-ASCII and
// back-quoted names, prefix and multi-column keys, long UNIQUE keys (hidden hash
// columns), virtual and stored generated columns and a view.
inline const char* allTypesSql() {
    return R"SQL(CREATE DATABASE alltypes DEFAULT CHARACTER SET utf8mb4;
USE alltypes;
CREATE TABLE t_int (
  i1 TINYINT, u1 TINYINT UNSIGNED, i2 SMALLINT NOT NULL, u2 SMALLINT UNSIGNED,
  i3 MEDIUMINT, u3 MEDIUMINT UNSIGNED, i4 INT, u4 INT UNSIGNED, i8 BIGINT, u8 BIGINT UNSIGNED,
  z4 INT(8) ZEROFILL, PRIMARY KEY (i2)
) ENGINE=MyISAM;
CREATE TABLE t_num (
  d1 DECIMAL(10,2) NOT NULL, d2 DECIMAL(65,30), d3 DECIMAL(5,0), d4 DECIMAL(20,10) UNSIGNED,
  d5 DECIMAL(65,0), d6 DECIMAL(1,1),
  f1 FLOAT, f2 FLOAT(7,3), f3 FLOAT UNSIGNED, e1 DOUBLE, e2 DOUBLE(20,5), e3 DOUBLE(30,30)
) ENGINE=InnoDB;
CREATE TABLE t_time (
  id INT NOT NULL PRIMARY KEY, d DATE, y YEAR,
  t0 TIME, t1 TIME(1), t2 TIME(2), t3 TIME(3), t4 TIME(4), t5 TIME(5), t6 TIME(6),
  dt0 DATETIME, dt1 DATETIME(1), dt2 DATETIME(2), dt3 DATETIME(3), dt4 DATETIME(4), dt5 DATETIME(5), dt6 DATETIME(6),
  ts0 TIMESTAMP NULL, ts1 TIMESTAMP(1) NULL, ts2 TIMESTAMP(2) NULL, ts3 TIMESTAMP(3) NOT NULL DEFAULT CURRENT_TIMESTAMP(3),
  ts4 TIMESTAMP(4) NULL, ts5 TIMESTAMP(5) NULL, ts6 TIMESTAMP(6) NULL
) ENGINE=InnoDB;
CREATE TABLE t_time_myisam (d DATE NOT NULL, t3 TIME(3), dt6 DATETIME(6), ts TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP, y YEAR) ENGINE=MyISAM;
CREATE TABLE t_bit (b1 BIT(1), b7 BIT(7), b8 BIT(8) NOT NULL, b10 BIT(10), b33 BIT(33), b64 BIT(64)) ENGINE=MyISAM;
CREATE TABLE t_bit_innodb (b1 BIT(1) NOT NULL, b9 BIT(9), b64 BIT(64)) ENGINE=InnoDB;
CREATE TABLE t_text_latin1 (
  c CHAR(10), v VARCHAR(100) NOT NULL, t TEXT, tt TINYTEXT,
  c8 CHAR(10) CHARACTER SET utf8mb4, v3 VARCHAR(40) CHARACTER SET utf8mb3, vb VARBINARY(30), cb BINARY(4),
  v_bin VARCHAR(20) COLLATE latin1_bin
) ENGINE=MyISAM DEFAULT CHARSET=latin1;
CREATE TABLE t_text_utf8mb4 (
  id INT NOT NULL, c CHAR(10), v VARCHAR(300), tt TINYTEXT, t TEXT, mt MEDIUMTEXT, lt LONGTEXT,
  c3 CHAR(5) CHARACTER SET utf8mb3, v1 VARCHAR(20) CHARACTER SET latin1, b BINARY(8), vb VARBINARY(50),
  vu VARCHAR(10) COLLATE utf8mb4_unicode_ci, PRIMARY KEY (id), UNIQUE KEY uv (v)
) ENGINE=InnoDB;
CREATE TABLE t_text_utf8mb3 (c CHAR(20), v VARCHAR(255), t TEXT, c4 CHAR(3) CHARACTER SET utf8mb4) ENGINE=InnoDB DEFAULT CHARSET=utf8mb3;
CREATE TABLE t_text_binary (c CHAR(10), v VARCHAR(10), t TEXT) ENGINE=MyISAM DEFAULT CHARSET=binary;
CREATE TABLE t_blob (tb TINYBLOB, b BLOB, mb MEDIUMBLOB, lb LONGBLOB NOT NULL) ENGINE=MyISAM;
CREATE TABLE t_blob_innodb (tb TINYBLOB, b BLOB, mb MEDIUMBLOB, lb LONGBLOB) ENGINE=InnoDB;
CREATE TABLE t_enum (
  e1 ENUM('a','b''c','d\\e','') NOT NULL, s1 SET('x','y''z'), e2 ENUM('é','ü','日本'),
  s2 SET('one','two','three') NOT NULL
) ENGINE=InnoDB;
CREATE TABLE t_enum_latin1 (e ENUM('café','b') , s SET('é','x')) ENGINE=MyISAM DEFAULT CHARSET=latin1;
CREATE TABLE t_geo (g GEOMETRY, p POINT NOT NULL, l LINESTRING, pg POLYGON, mp MULTIPOINT, ml MULTILINESTRING, mpg MULTIPOLYGON, gc GEOMETRYCOLLECTION) ENGINE=MyISAM;
CREATE TABLE t_geo_innodb (g GEOMETRY, p POINT) ENGINE=InnoDB;
CREATE TABLE t_json (id INT NOT NULL PRIMARY KEY, j JSON) ENGINE=InnoDB;
CREATE TABLE t_misc (
  a INT NOT NULL COMMENT 'it''s "quoted" \\ back',
  b VARCHAR(20) NOT NULL COMMENT 'ünïcödé ✓',
  `prénom` VARCHAR(10), `名前` CHAR(4), `a``b` INT,
  t TEXT NOT NULL,
  PRIMARY KEY (b, a), UNIQUE KEY u1 (`a``b`), UNIQUE KEY u2 (t(10)), KEY k (`prénom`)
) ENGINE=InnoDB COMMENT='table comment';
CREATE TABLE t_prefix (t TEXT NOT NULL, v VARCHAR(100) NOT NULL, PRIMARY KEY (t(20)), UNIQUE KEY (v(5))) ENGINE=MyISAM;
CREATE TABLE t_wide (
  u VARCHAR(10) CHARACTER SET ucs2, u16 VARCHAR(10) CHARACTER SET utf16, u16le CHAR(3) CHARACTER SET utf16le,
  u32 VARCHAR(5) CHARACTER SET utf32, eu ENUM('x','ÿ','€') CHARACTER SET ucs2,
  c1251 VARCHAR(10) CHARACTER SET cp1251, sj VARCHAR(10) CHARACTER SET sjis
) ENGINE=InnoDB;
CREATE TABLE t_nokey (a INT, b INT) ENGINE=MyISAM;
CREATE TABLE t_empty_enum_only (e ENUM('','a')) ENGINE=InnoDB;
CREATE TABLE t_aria (a INT) ENGINE=Aria;
CREATE TABLE t_long_unique (id INT NOT NULL PRIMARY KEY, t TEXT, v VARCHAR(2000), UNIQUE KEY ut (t), UNIQUE KEY uv (v)) ENGINE=InnoDB;
CREATE TABLE t_long_unique_myisam (b BLOB, n INT, UNIQUE KEY (b)) ENGINE=MyISAM;
CREATE TABLE t_vcol (a INT, b INT AS (a+1) VIRTUAL, c INT AS (a*2) PERSISTENT, d INT DEFAULT (a+3), CHECK (a > 0)) ENGINE=InnoDB;
CREATE VIEW v1 AS SELECT * FROM t_int;
CREATE TABLE t_int_copy LIKE t_int;
)SQL";
}

// The collation list of the MariaDB server installed here, as the server itself reports
// it (information_schema), for tests that must not depend on the shipped data file.
inline schema::CollationTable serverCollations() {
    const auto fx = makeFixture(
        "server_collations", "SELECT 1;\n",
        "SELECT c.ID, c.CHARACTER_SET_NAME, c.COLLATION_NAME, s.MAXLEN "
        "FROM information_schema.COLLATIONS c JOIN information_schema.CHARACTER_SETS s "
        "ON s.CHARACTER_SET_NAME = c.CHARACTER_SET_NAME WHERE c.ID IS NOT NULL;\n");
    schema::CollationTable table;
    const auto rows = parseBatch(fx.resultText());
    for (std::size_t i = 1; i < rows.size(); ++i) {
        if (rows[i].size() < 4) continue;
        schema::CollationEntry e;
        e.charsetName = rows[i][1];
        e.collationName = rows[i][2];
        e.maxBytesPerChar = static_cast<std::uint32_t>(std::stoul(rows[i][3]));
        e.minBytesPerChar = e.charsetName == "utf32" ? 4
                            : (e.charsetName == "ucs2" || e.charsetName.rfind("utf16", 0) == 0)
                                ? 2
                                : 1;
        table.insert(static_cast<std::uint32_t>(std::stoul(rows[i][0])), e);
    }
    return table;
}

}  // namespace dunmore::test
