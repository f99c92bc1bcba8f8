#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dunmore::core {

using ByteSpan = std::span<const std::uint8_t>;
using Bytes = std::vector<std::uint8_t>;

inline ByteSpan asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}
inline std::string asText(ByteSpan bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// A cursor over untrusted bytes. Every read names its width and byte order. Errors are
// sticky: a read past the end returns 0 (or an empty span), does not move the cursor and
// marks the reader failed, so a whole header can be read and checked with one ok().
class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(ByteSpan data) : m_data(data) {}

    bool ok() const { return m_ok; }
    std::size_t position() const { return m_pos; }
    std::size_t size() const { return m_data.size(); }
    std::size_t remaining() const { return m_pos <= m_data.size() ? m_data.size() - m_pos : 0; }
    ByteSpan data() const { return m_data; }

    // Moves to an absolute position; a position past the end fails the reader.
    void seek(std::size_t pos) {
        if (pos > m_data.size()) {
            m_ok = false;
            return;
        }
        m_pos = pos;
    }
    void skip(std::size_t count) {
        if (count > remaining()) {
            m_ok = false;
            return;
        }
        m_pos += count;
    }

    std::uint8_t u8() { return static_cast<std::uint8_t>(readLe(1)); }
    std::uint16_t u16le() { return static_cast<std::uint16_t>(readLe(2)); }
    std::uint32_t u24le() { return static_cast<std::uint32_t>(readLe(3)); }
    std::uint32_t u32le() { return static_cast<std::uint32_t>(readLe(4)); }
    std::uint64_t u64le() { return readLe(8); }
    std::uint64_t uleN(std::size_t width) { return width <= 8 ? readLe(width) : fail(); }
    std::uint16_t u16be() { return static_cast<std::uint16_t>(readBe(2)); }
    std::uint32_t u24be() { return static_cast<std::uint32_t>(readBe(3)); }
    std::uint32_t u32be() { return static_cast<std::uint32_t>(readBe(4)); }
    std::uint64_t u48be() { return readBe(6); }
    std::uint64_t u56be() { return readBe(7); }
    std::uint64_t u64be() { return readBe(8); }
    std::uint64_t ubeN(std::size_t width) { return width <= 8 ? readBe(width) : fail(); }

    // The next count bytes; an empty span (and a failed reader) when fewer remain.
    ByteSpan bytes(std::size_t count) {
        if (count > remaining()) {
            m_ok = false;
            return {};
        }
        ByteSpan out = m_data.subspan(m_pos, count);
        m_pos += count;
        return out;
    }

    // Reads at an absolute position without moving the cursor.
    std::uint8_t peekU8(std::size_t pos) const { return pos < m_data.size() ? m_data[pos] : 0; }

private:
    std::uint64_t fail() {
        m_ok = false;
        return 0;
    }
    std::uint64_t readLe(std::size_t width) {
        if (width > remaining()) return fail();
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i) v |= std::uint64_t{m_data[m_pos + i]} << (8 * i);
        m_pos += width;
        return v;
    }
    std::uint64_t readBe(std::size_t width) {
        if (width > remaining()) return fail();
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i) v = (v << 8) | m_data[m_pos + i];
        m_pos += width;
        return v;
    }

    ByteSpan m_data;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

// Width-named reads at a fixed position of a span, for callers that address fields
// directly (page offsets). Out-of-range reads give 0.
inline std::uint64_t readBeAt(ByteSpan data, std::size_t pos, std::size_t width) {
    if (pos > data.size() || width > data.size() - pos || width > 8) return 0;
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width; ++i) v = (v << 8) | data[pos + i];
    return v;
}
inline std::uint64_t readLeAt(ByteSpan data, std::size_t pos, std::size_t width) {
    if (pos > data.size() || width > data.size() - pos || width > 8) return 0;
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width; ++i) v |= std::uint64_t{data[pos + i]} << (8 * i);
    return v;
}

}  // namespace dunmore::core
