// Read-only positioned file access with a read-ahead window (pread on a descriptor
// opened O_RDONLY). Never writes, never locks, so a read-only copy of a data folder and
// files another process holds open read fine.
#include "core/read_only_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace dunmore::core {

ReadOnlyFile::~ReadOnlyFile() { close(); }

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept { *this = std::move(other); }

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        m_path = std::move(other.m_path);
        m_size = other.m_size;
        m_window = other.m_window;
        m_buffer = std::move(other.m_buffer);
        m_bufferStart = other.m_bufferStart;
        m_bufferLength = other.m_bufferLength;
        other.m_fd = -1;
        other.m_size = 0;
        other.m_bufferLength = 0;
    }
    return *this;
}

Status ReadOnlyFile::open(const std::filesystem::path& path) {
    close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Status::ioError("cannot open " + path.string() + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Status::ioError("not a regular file: " + path.string());
    }
    m_fd = fd;
    m_path = path;
    m_size = static_cast<std::uint64_t>(st.st_size);
    m_bufferLength = 0;
    return Status::ok();
}

void ReadOnlyFile::close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_size = 0;
    m_bufferLength = 0;
    m_path.clear();
}

ReadOnlyFile ReadOnlyFile::duplicate(std::size_t window) const {
    ReadOnlyFile copy(window != 0 ? window : m_window);
    if (m_fd < 0) return copy;
    const int fd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return copy;
    copy.m_fd = fd;
    copy.m_path = m_path;
    copy.m_size = m_size;
    return copy;
}

bool ReadOnlyFile::fillWindow(std::uint64_t offset) {
    // The window never reaches past the end of the file, so a small file (a .frm, a view
    // file) costs a buffer of its own size, not a whole window.
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(m_window, m_size - offset));
    if (m_buffer.size() < want) m_buffer.resize(want);
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n = ::pread(m_fd, m_buffer.data() + got, want - got,
                                  static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    m_bufferStart = offset;
    m_bufferLength = got;
    return got > 0;
}

std::size_t ReadOnlyFile::readAt(std::uint64_t offset, std::span<std::uint8_t> out) {
    const std::size_t done = readInto(offset, out);
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(done), out.end(), std::uint8_t{0});
    return done;
}

std::size_t ReadOnlyFile::readInto(std::uint64_t offset, std::span<std::uint8_t> out) {
    if (m_fd < 0 || offset >= m_size) return 0;
    std::size_t done = 0;
    while (done < out.size()) {
        const std::uint64_t at = offset + done;
        if (at >= m_size) break;
        if (!(at >= m_bufferStart && at < m_bufferStart + m_bufferLength)) {
            // Large requests bypass the window.
            if (out.size() - done >= m_window) {
                const ssize_t n = ::pread(m_fd, out.data() + done, out.size() - done,
                                          static_cast<off_t>(at));
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (!fillWindow(at)) break;
        }
        const std::size_t inBuffer = static_cast<std::size_t>(at - m_bufferStart);
        const std::size_t take = std::min(out.size() - done, m_bufferLength - inBuffer);
        std::memcpy(out.data() + done, m_buffer.data() + inBuffer, take);
        done += take;
    }
    return done;
}

Status ReadOnlyFile::readExact(std::uint64_t offset, std::span<std::uint8_t> out) {
    const std::size_t got = readAt(offset, out);
    if (got != out.size())
        return Status::ioError("short read in " + m_path.string() + " at offset " +
                               std::to_string(offset) + ": wanted " + std::to_string(out.size()) +
                               " bytes, got " + std::to_string(got));
    return Status::ok();
}

std::vector<std::uint8_t> ReadOnlyFile::readVector(std::uint64_t offset, std::size_t count) {
    if (offset >= m_size) return {};
    const std::uint64_t avail = m_size - offset;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(std::min<std::uint64_t>(avail, count)));
    const std::size_t got = readAt(offset, out);
    out.resize(got);
    return out;
}

}  // namespace dunmore::core
