#pragma once

#include <qpdf/InputSource.hh>

#include <array>
#include <string>

namespace tools {

/// A file that qpdf reads through positioned reads of whole blocks, the last few kept. qpdf's
/// own file source seeks and refills a small buffer at every token, thousands of system calls
/// for the cross-reference sections of a long file; reading the whole file into memory instead
/// makes memory, and the time to fill it, grow with the file. Only what qpdf parses is read.
/// Large blocks suit a file whose streams are read through; small ones a file of which only
/// scattered small objects are read.
class BlockInputSource : public InputSource {
public:
    static constexpr long long largeBlocks = 64 * 1024;
    static constexpr long long smallBlocks = 4 * 1024;

    /// Reads through `fd`, which the caller keeps open, `size` bytes long.
    BlockInputSource(std::string name, int fd, long long size, long long blockSize = largeBlocks);
    /// Opens `path` and owns the descriptor; throws std::runtime_error when it is not a
    /// readable regular file.
    explicit BlockInputSource(const std::string& path, long long blockSize = largeBlocks);
    ~BlockInputSource() override;
    BlockInputSource(const BlockInputSource&) = delete;
    BlockInputSource& operator=(const BlockInputSource&) = delete;

    long long size() const { return m_size; }

    qpdf_offset_t findAndSkipNextEOL() override;
    std::string const& getName() const override { return m_name; }
    qpdf_offset_t tell() override { return m_pos; }
    void seek(qpdf_offset_t offset, int whence) override;
    void rewind() override { m_pos = 0; }
    size_t read(char* into, size_t length) override;
    void unreadCh(char) override;

private:
    struct Block {
        qpdf_offset_t start = -1;
        std::string data;
    };
    const Block& blockAt(qpdf_offset_t pos);

    std::string m_name;
    int m_fd = -1;
    bool m_owned = false;
    qpdf_offset_t m_size = 0;
    qpdf_offset_t m_blockSize = largeBlocks;
    qpdf_offset_t m_pos = 0;
    std::array<Block, 4> m_blocks;
    size_t m_next = 0;
};

} // namespace tools
