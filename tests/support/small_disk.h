#pragma once

// A small file system for tests of full disks: a tmpfs mounted on a folder of the test for the
// life of the object. Mounting needs root; where it cannot be mounted, ok() is false and the
// test skips.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/statvfs.h>
#include <vector>

namespace testing_support {

class SmallDisk {
public:
    SmallDisk(std::string folder, int kilobytes) : m_folder(std::move(folder)) {
        const std::string quoted = "'" + m_folder + "'";
        m_mounted = std::system(("mkdir -p " + quoted + " && mount -t tmpfs -o size=" +
                                 std::to_string(kilobytes) + "k tmpfs " + quoted + " 2>/dev/null")
                                    .c_str()) == 0;
    }
    ~SmallDisk() {
        if (m_mounted) {
            unmount();
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool ok() const { return m_mounted; }
    const std::string& folder() const { return m_folder; }

    /// Fills the disk with a file of its own until only about `kilobytes` are free.
    void leaveFree(int kilobytes) {
        struct statvfs fs {};
        if (statvfs(m_folder.c_str(), &fs) != 0) {
            return;
        }
        const long long free =
            static_cast<long long>(fs.f_bavail) * static_cast<long long>(fs.f_frsize);
        const long long fill = free - static_cast<long long>(kilobytes) * 1024;
        if (fill > 0) {
            std::ofstream filler(m_folder + "/.filler", std::ios::binary);
            const std::vector<char> block(4096, 'x');
            for (long long n = 0; n < fill; n += 4096) {
                filler.write(block.data(), std::streamsize(block.size()));
            }
        }
    }

    /// Unmounts; false when the file system was busy (a file left open), which is then
    /// unmounted lazily.
    bool unmount() {
        m_mounted = false;
        const std::string quoted = "'" + m_folder + "'";
        if (std::system(("umount " + quoted + " 2>/dev/null").c_str()) == 0) {
            return true;
        }
        std::system(("umount -l " + quoted).c_str());
        return false;
    }

private:
    std::string m_folder;
    bool m_mounted = false;
};

} // namespace testing_support
