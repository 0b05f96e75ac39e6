#include "atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace pdftox {

AtomicFile::AtomicFile(std::string finalPath) : m_final(std::move(finalPath)) {
    const size_t slash = m_final.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : m_final.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? m_final : m_final.substr(slash + 1);
    std::string pattern = folder + "." + name + ".part-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemp(buffer.data());
    if (fd < 0) {
        throw std::runtime_error("cannot write in the folder of " + m_final + ": " +
                                 std::strerror(errno));
    }
    // mkstemp makes the file private; the result is an ordinary document of the user.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    m_temp.assign(buffer.data());
}

AtomicFile::~AtomicFile() {
    if (!m_committed) {
        std::remove(m_temp.c_str());
    }
}

void AtomicFile::commit() {
    if (std::rename(m_temp.c_str(), m_final.c_str()) != 0) {
        throw std::runtime_error("cannot rename to " + m_final + ": " + std::strerror(errno));
    }
    m_committed = true;
}

} // namespace pdftox
