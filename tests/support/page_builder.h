#pragma once

// Small hand-built InnoDB page images for the page and record parsers.
//
//   PageBuilder p(PageBuilder::Format::Compact);
//   p.compactRecord(200, {0x80, 0, 0, 1}, {});   // data at 200, no length bytes
//   p.chainCompact({200});                       // infimum -> 200 -> supremum
//
// Record helpers write exactly the bytes InnoDB writes: the header below the origin,
// the field data from the origin up, the length entries / end offsets below the header.

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace dunmore::test {

using PageBytes = std::vector<std::uint8_t>;

inline void setU16be(PageBytes& b, std::size_t pos, std::uint32_t v) {
    b.at(pos) = static_cast<std::uint8_t>(v >> 8);
    b.at(pos + 1) = static_cast<std::uint8_t>(v);
}
inline void setU32be(PageBytes& b, std::size_t pos, std::uint32_t v) {
    setU16be(b, pos, v >> 16);
    setU16be(b, pos + 2, v & 0xFFFF);
}
inline void setU64be(PageBytes& b, std::size_t pos, std::uint64_t v) {
    setU32be(b, pos, static_cast<std::uint32_t>(v >> 32));
    setU32be(b, pos + 4, static_cast<std::uint32_t>(v));
}
inline void flipByte(PageBytes& b, std::size_t pos) { b.at(pos) ^= 0xFF; }
inline void truncateAt(PageBytes& b, std::size_t size) { b.resize(size); }
inline void putText(PageBytes& b, std::size_t pos, const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) b.at(pos + i) = static_cast<std::uint8_t>(text[i]);
}

class PageBuilder {
public:
    static constexpr std::size_t kPageSize = 16384;
    enum class Format { Compact, Redundant };

    explicit PageBuilder(Format format, std::uint32_t pageNumber = 0) : m_format(format) {
        m_page.assign(kPageSize, 0);
        setU32be(m_page, 4, pageNumber);
        setU32be(m_page, 8, 0xFFFFFFFF);
        setU32be(m_page, 12, 0xFFFFFFFF);
        setU16be(m_page, 24, 17855);
        if (format == Format::Compact) {
            putText(m_page, 99, std::string("infimum") + '\0');
            putText(m_page, 112, "supremum");
            m_page[99 - 3] = 0x02;   // status infimum
            m_page[112 - 3] = 0x03;  // status supremum
            setU16be(m_page, 97, 112 - 99);
        } else {
            putText(m_page, 101, std::string("infimum") + '\0');
            putText(m_page, 116, std::string("supremum") + '\0');
            setU16be(m_page, 99, 116);
        }
    }

    PageBytes& bytes() { return m_page; }
    const PageBytes& bytes() const { return m_page; }

    PageBuilder& prev(std::uint32_t page) { setU32be(m_page, 8, page); return *this; }
    PageBuilder& next(std::uint32_t page) { setU32be(m_page, 12, page); return *this; }
    PageBuilder& pageType(std::uint16_t type) { setU16be(m_page, 24, type); return *this; }
    PageBuilder& level(std::uint16_t level) { setU16be(m_page, 64, level); return *this; }
    PageBuilder& indexId(std::uint64_t id) { setU64be(m_page, 66, id); return *this; }

    // A compact record at origin: data from origin up, lengthBytes from origin - 6 down
    // (null bitmap first, then the variable-length entries, as InnoDB lays them out),
    // info bits in the high nibble of origin - 5. The successor is set by chainCompact.
    void compactRecord(std::size_t origin, const PageBytes& data, const PageBytes& lengthBytes,
                       std::uint8_t infoBits = 0, std::uint8_t status = 0) {
        for (std::size_t i = 0; i < data.size(); ++i) m_page.at(origin + i) = data[i];
        for (std::size_t i = 0; i < lengthBytes.size(); ++i) m_page.at(origin - 6 - i) = lengthBytes[i];
        m_page.at(origin - 5) = infoBits;
        m_page.at(origin - 3) = status;
    }
    // Successor value of the compact record at from: (to - from) modulo 65536.
    void linkCompact(std::size_t from, std::size_t to) {
        setU16be(m_page, from - 2, static_cast<std::uint32_t>((to - from) & 0xFFFF));
    }
    // infimum -> origins... -> supremum.
    void chainCompact(const std::vector<std::size_t>& origins) {
        std::size_t from = 99;
        for (std::size_t o : origins) {
            linkCompact(from, o);
            from = o;
        }
        linkCompact(from, 112);
        setU16be(m_page, 112 - 2, 0);
    }

    // A redundant record at origin with the given fields (nullFields: the SQL-NULL flag of
    // field i is set, its data still as given). Returns the origin.
    std::size_t redundantRecord(std::size_t origin, const std::vector<PageBytes>& fields,
                                bool oneByteOffsets, std::uint8_t infoBits = 0,
                                const std::vector<bool>& nullFields = {}) {
        const std::size_t w = oneByteOffsets ? 1 : 2;
        std::size_t end = 0;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            for (std::size_t k = 0; k < fields[i].size(); ++k) m_page.at(origin + end + k) = fields[i][k];
            end += fields[i].size();
            std::uint32_t entry = static_cast<std::uint32_t>(end);
            const bool isNull = i < nullFields.size() && nullFields[i];
            if (isNull) entry |= oneByteOffsets ? 0x80 : 0x8000;
            const std::size_t entryEnd = origin - 6 - i * w;
            if (w == 1)
                m_page.at(entryEnd - 1) = static_cast<std::uint8_t>(entry);
            else
                setU16be(m_page, entryEnd - 2, entry);
        }
        m_page.at(origin - 6) = infoBits;
        const std::uint32_t word = (static_cast<std::uint32_t>(fields.size()) << 1) | (oneByteOffsets ? 1 : 0);
        m_page.at(origin - 5) = static_cast<std::uint8_t>(word >> 16);
        m_page.at(origin - 4) = static_cast<std::uint8_t>(word >> 8);
        m_page.at(origin - 3) = static_cast<std::uint8_t>(word);
        return origin;
    }
    // infimum -> origins... -> supremum (absolute next offsets).
    void chainRedundant(const std::vector<std::size_t>& origins) {
        std::size_t from = 101;
        for (std::size_t o : origins) {
            setU16be(m_page, from - 2, static_cast<std::uint32_t>(o));
            from = o;
        }
        setU16be(m_page, from - 2, 116);
    }

private:
    Format m_format;
    PageBytes m_page;
};

inline PageBytes be(std::uint64_t v, std::size_t width) {
    PageBytes out(width);
    for (std::size_t i = 0; i < width; ++i) out[width - 1 - i] = static_cast<std::uint8_t>(v >> (8 * i));
    return out;
}
inline PageBytes textBytes(const std::string& s) { return PageBytes(s.begin(), s.end()); }

}  // namespace dunmore::test
