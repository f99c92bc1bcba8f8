#pragma once

#include "core/status.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace dunmore::core {

// A MySQL file opened read-only (O_RDONLY, no locks, nothing is ever written). Reads are
// positioned by 64-bit offsets and served from a read-ahead window, so a walk that reads
// many small pieces in increasing order costs one large read per window. What is read is
// exactly what a plain pread would give.
class ReadOnlyFile {
public:
    static constexpr std::size_t kDefaultWindow = 1 << 20;

    ReadOnlyFile() = default;
    explicit ReadOnlyFile(std::size_t window) : m_window(window ? window : kDefaultWindow) {}
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;

    // Closes any file open in this slot first. A failure leaves the slot closed.
    Status open(const std::filesystem::path& path);
    void close();
    // A second handle on the same open file, with a read window of its own (of `window`
    // bytes; 0: as large as this one's), so that two threads can read one file at once.
    // A closed file gives a closed handle; so does a failure to duplicate the descriptor.
    ReadOnlyFile duplicate(std::size_t window = 0) const;
    bool isOpen() const { return m_fd >= 0; }
    const std::filesystem::path& path() const { return m_path; }

    // Length in bytes at open time.
    std::uint64_t size() const { return m_size; }

    // Reads up to out.size() bytes at offset; returns how many were read (fewer at the
    // end of the file, 0 past it or on error). Bytes not read are set to zero.
    std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> out);

    // Reads exactly out.size() bytes at offset, or fails with a message naming the file.
    Status readExact(std::uint64_t offset, std::span<std::uint8_t> out);

    // The bytes [offset, offset + count) clipped to the file, in a fresh vector.
    std::vector<std::uint8_t> readVector(std::uint64_t offset, std::size_t count);

private:
    bool fillWindow(std::uint64_t offset);
    // readAt without the zero fill: the bytes after those read are left as they were.
    std::size_t readInto(std::uint64_t offset, std::span<std::uint8_t> out);

    int m_fd = -1;
    std::filesystem::path m_path;
    std::uint64_t m_size = 0;
    std::size_t m_window = kDefaultWindow;
    std::vector<std::uint8_t> m_buffer;
    std::uint64_t m_bufferStart = 0;
    std::size_t m_bufferLength = 0;
};

}  // namespace dunmore::core
