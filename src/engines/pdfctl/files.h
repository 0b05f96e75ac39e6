#pragma once

// Files as the page writer uses them: owned descriptors, sources that must not change between
// a draw and the page's writing, the scratch file that holds encoded pictures, and the output
// stream that counts its offsets for the cross-reference table.
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace pdfctl {

/// An open file descriptor, closed with the object.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd();
    Fd(Fd&& other) noexcept : m_fd(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd = -1;
};

/// What identifies the content of a file: a file whose bytes are copied at the end of the page
/// must still be the one that was read when it was drawn.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    int64_t modifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

/// Opens `path` for reading; throws ImageError (image.h) naming the reason.
Fd openForReading(const std::string& path, FileIdentity* identity);

/// Reads up to `size` bytes at `offset`; returns how many were read (less at the end of the
/// file). Throws ImageError on a read error.
size_t readAt(int fd, void* buffer, size_t size, int64_t offset);

/// A scratch file without a name in the temporary folder, holding the encoded pictures of a
/// page until the page is written: the memory of a box stays bounded by one picture however
/// many are drawn.
class Spool {
public:
    Spool() = default;
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    /// Appends bytes; throws pdftox::WriteError when the temporary folder is full.
    void append(const void* data, size_t size);
    /// Writes out what is buffered; the bytes up to size() are then in the file.
    void flush();
    /// Drops what was appended after `size` (the part of a picture that failed).
    void truncate(int64_t size);
    int64_t size() const { return m_size; }
    int fd() const { return m_fd.get(); }

private:
    Fd m_fd;
    std::string m_buffer;
    int64_t m_size = 0;
};

/// The PDF being written: buffered writes to a descriptor, the offset of every byte known.
class OutputStream {
public:
    explicit OutputStream(int fd) : m_fd(fd) {}
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    void write(std::string_view bytes);
    /// Copies `length` bytes of `source` from `offset`, in the kernel where it can. Throws
    /// ImageError when the source ends early, pdftox::WriteError when writing fails.
    void copy(int source, int64_t offset, int64_t length);
    void flush();
    int64_t offset() const { return m_offset; }

private:
    int m_fd;
    std::string m_buffer;
    int64_t m_offset = 0;
};

} // namespace pdfctl
