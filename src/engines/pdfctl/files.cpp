#include "files.h"

#include "atomic_file.h"
#include "image.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pdfctl {
namespace {

constexpr size_t BufferSize = 1 << 16;

[[noreturn]] void writeFailed(const char* what, int error) {
    throw pdftox::WriteError(std::string(what) + ": " + std::strerror(error), error);
}

// Writes all of `size` bytes, retrying interrupted and short writes.
void writeAll(int fd, const char* data, size_t size, const char* what) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            writeFailed(what, errno);
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

std::string temporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

} // namespace

Fd::~Fd() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = other.release();
    }
    return *this;
}

Fd openForReading(const std::string& path, FileIdentity* identity) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        throw ImageError(std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        throw ImageError(std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        throw ImageError("not a file");
    }
    if (identity) {
        identity->device = st.st_dev;
        identity->inode = st.st_ino;
        identity->size = st.st_size;
        identity->modifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    return fd;
}

size_t readAt(int fd, void* buffer, size_t size, int64_t offset) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, static_cast<char*>(buffer) + done, size - done,
                                  static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw ImageError(std::strerror(errno));
        }
        if (n == 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

void Spool::append(const void* data, size_t size) {
    if (m_buffer.size() + size > BufferSize) {
        flush();
    }
    if (size >= BufferSize) {
        flush();
        writeAll(m_fd.get(), static_cast<const char*>(data), size, "cannot write a scratch file");
    } else {
        m_buffer.append(static_cast<const char*>(data), size);
    }
    m_size += static_cast<int64_t>(size);
}

void Spool::flush() {
    if (!m_fd) {
        const std::string folder = temporaryFolder();
        m_fd = Fd(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
        if (!m_fd) {
            // A file system without unnamed files: a named one, removed at once.
            std::string name = folder + "/.pdfctl-XXXXXX";
            m_fd = Fd(::mkostemp(name.data(), O_CLOEXEC));
            if (!m_fd) {
                writeFailed("cannot make a scratch file", errno);
            }
            ::unlink(name.c_str());
        }
    }
    writeAll(m_fd.get(), m_buffer.data(), m_buffer.size(), "cannot write a scratch file");
    m_buffer.clear();
}

void Spool::truncate(int64_t size) {
    if (size >= m_size) {
        return;
    }
    flush();
    if (::ftruncate(m_fd.get(), static_cast<off_t>(size)) != 0 ||
        ::lseek(m_fd.get(), static_cast<off_t>(size), SEEK_SET) < 0) {
        writeFailed("cannot shorten a scratch file", errno);
    }
    m_size = size;
}

void OutputStream::write(std::string_view bytes) {
    if (m_buffer.size() + bytes.size() > BufferSize) {
        flush();
    }
    if (bytes.size() >= BufferSize) {
        writeAll(m_fd, bytes.data(), bytes.size(), "cannot write the PDF file");
    } else {
        m_buffer.append(bytes);
    }
    m_offset += static_cast<int64_t>(bytes.size());
}

void OutputStream::flush() {
    writeAll(m_fd, m_buffer.data(), m_buffer.size(), "cannot write the PDF file");
    m_buffer.clear();
}

void OutputStream::copy(int source, int64_t offset, int64_t length) {
    flush();
    off_t from = static_cast<off_t>(offset);
    int64_t left = length;
    bool kernelCopy = true;
    while (left > 0 && kernelCopy) {
        const ssize_t n =
            ::copy_file_range(source, &from, m_fd, nullptr, static_cast<size_t>(left), 0);
        if (n > 0) {
            left -= n;
        } else if (n == 0) {
            throw ImageError("the file became shorter while the page was written");
        } else if (errno == EINTR) {
            continue;
        } else if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG || errno == EIO) {
            writeFailed("cannot write the PDF file", errno);
        } else {
            kernelCopy = false; // across file systems or not supported here: copy through memory
        }
    }
    std::string buffer(static_cast<size_t>(std::min<int64_t>(left, 1 << 20)), '\0');
    while (left > 0) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(left, int64_t(buffer.size())));
        const size_t got = readAt(source, buffer.data(), want, from);
        if (got == 0) {
            throw ImageError("the file became shorter while the page was written");
        }
        writeAll(m_fd, buffer.data(), got, "cannot write the PDF file");
        from += static_cast<off_t>(got);
        left -= static_cast<int64_t>(got);
    }
    m_offset += length;
}

} // namespace pdfctl
