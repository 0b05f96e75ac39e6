#include "block_input_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace tools {
BlockInputSource::BlockInputSource(std::string name, int fd, long long size, long long blockSize)
    : m_name(std::move(name)), m_fd(fd), m_size(size), m_blockSize(blockSize) {}

BlockInputSource::BlockInputSource(const std::string& path, long long blockSize)
    : m_name(path), m_blockSize(blockSize) {
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        throw std::runtime_error(std::strerror(errno));
    }
    m_owned = true;
    struct stat st {};
    if (fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(m_fd);
        throw std::runtime_error("not a regular file");
    }
    m_size = st.st_size;
}

BlockInputSource::~BlockInputSource() {
    if (m_owned) {
        ::close(m_fd);
    }
}

qpdf_offset_t BlockInputSource::findAndSkipNextEOL() {
    qpdf_offset_t eol = -1;
    while (m_pos < m_size) {
        const Block& block = blockAt(m_pos);
        const char c = block.data[static_cast<size_t>(m_pos - block.start)];
        if (c == '\r' || c == '\n') {
            if (eol < 0) {
                eol = m_pos;
            }
        } else if (eol >= 0) {
            return eol;
        }
        ++m_pos;
    }
    return eol < 0 ? m_size : eol;
}

void BlockInputSource::seek(qpdf_offset_t offset, int whence) {
    const qpdf_offset_t from = whence == SEEK_SET ? 0 : whence == SEEK_END ? m_size : m_pos;
    if (from + offset < 0) {
        throw std::runtime_error(m_name + ": seek before the start of the file");
    }
    m_pos = from + offset;
}

size_t BlockInputSource::read(char* into, size_t length) {
    last_offset = m_pos;
    size_t done = 0;
    while (done < length && m_pos < m_size) {
        const Block& block = blockAt(m_pos);
        const auto within = static_cast<size_t>(m_pos - block.start);
        const size_t n = std::min(length - done, block.data.size() - within);
        std::memcpy(into + done, block.data.data() + within, n);
        done += n;
        m_pos += static_cast<qpdf_offset_t>(n);
    }
    return done;
}

void BlockInputSource::unreadCh(char) {
    if (m_pos > 0) {
        --m_pos;
    }
}

const BlockInputSource::Block& BlockInputSource::blockAt(qpdf_offset_t pos) {
    const qpdf_offset_t start = pos - pos % m_blockSize;
    for (const Block& block : m_blocks) {
        if (block.start == start) {
            return block;
        }
    }
    Block& block = m_blocks[m_next++ % m_blocks.size()];
    block.start = -1;
    block.data.resize(static_cast<size_t>(std::min(m_blockSize, m_size - start)));
    size_t got = 0;
    while (got < block.data.size()) {
        const ssize_t n = pread(m_fd, block.data.data() + got, block.data.size() - got,
                                start + static_cast<qpdf_offset_t>(got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // A file that got shorter or cannot be read: qpdf reports it as damage.
            throw std::runtime_error(m_name + ": cannot read at offset " +
                                     std::to_string(start + static_cast<qpdf_offset_t>(got)));
        }
        got += static_cast<size_t>(n);
    }
    block.start = start;
    return block;
}

} // namespace tools
