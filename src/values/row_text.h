#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace dunmore::values {

// The script text of rows as it is made, grown at its end through a pointer: room(n)
// gives n writable bytes after the text and advance(p) ends the text at p, so the many
// short pieces of a row (a number, a quote, a comma) are written without a call and a
// capacity check each. The bytes live in a std::string kept at the full size of its room
// (what lies past the text means nothing), so the buffer can be handed on and reused
// whole, and is zero-filled only when it grows.
class RowText {
public:
    RowText() = default;
    // Takes over the room of buffer; its contents are dropped.
    explicit RowText(std::string buffer) : m_buffer(std::move(buffer)) { m_buffer.resize(m_buffer.capacity()); }

    // At least n writable bytes from the end of the text (valid until the next call that
    // can grow the buffer).
    char* room(std::size_t n) {
        if (m_buffer.size() - m_size < n) grow(n);
        return m_buffer.data() + m_size;
    }
    // Ends the text at p, a place in the room given last.
    void advance(const char* p) { m_size = static_cast<std::size_t>(p - m_buffer.data()); }

    void append(const char* p, std::size_t n) {
        if (n == 0) return;
        std::memcpy(room(n), p, n);
        m_size += n;
    }
    void append(std::string_view t) { append(t.data(), t.size()); }
    void push_back(char c) {
        *room(1) = c;
        ++m_size;
    }
    // Keeps the first `size` bytes of the text.
    void cut(std::size_t size) { m_size = std::min(size, m_size); }
    // Requires: !empty().
    void pop_back() { --m_size; }

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    char back() const { return m_buffer[m_size - 1]; }
    std::string_view view() const { return {m_buffer.data(), m_size}; }
    // The buffer, for another RowText; the text is gone.
    std::string release() {
        m_size = 0;
        return std::move(m_buffer);
    }

private:
    void grow(std::size_t n) {
        m_buffer.resize(std::max({m_size + n, 2 * m_buffer.size(), std::size_t{256}}));
        m_buffer.resize(m_buffer.capacity());
    }

    std::string m_buffer;
    std::size_t m_size = 0;
};

}  // namespace dunmore::values
