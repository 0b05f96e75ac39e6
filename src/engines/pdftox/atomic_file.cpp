#include "atomic_file.h"

#include "../tool_status.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pdftox {
namespace {

// Part files that exist under a name, so that a signal handler can remove them: fixed slots of
// plain memory, since a handler may neither allocate nor lock.
struct PartSlot {
    std::atomic<int> state{0}; // 0 free, 1 being filled, 2 holds a path
    char path[PATH_MAX];
};
constexpr int SlotCount = 256;
// Initialised at compile time: the table lies in zero pages that are touched only when used,
// instead of a 1 MiB loop at every start of every tool.
constinit PartSlot g_parts[SlotCount]{};

int registerPart(const std::string& path) {
    if (path.size() >= PATH_MAX) {
        return -1;
    }
    for (int i = 0; i < SlotCount; ++i) {
        int expected = 0;
        if (g_parts[i].state.compare_exchange_strong(expected, 1)) {
            std::memcpy(g_parts[i].path, path.c_str(), path.size() + 1);
            g_parts[i].state.store(2, std::memory_order_release);
            return i;
        }
    }
    return -1; // more part files at once than slots: they are still removed on the normal path
}

void unregisterPart(int slot) {
    if (slot >= 0) {
        g_parts[slot].state.store(0, std::memory_order_release);
    }
}

void removePartFiles() {
    for (PartSlot& slot : g_parts) {
        if (slot.state.load(std::memory_order_acquire) == 2) {
            unlink(slot.path);
        }
    }
}

extern "C" void cleanupAndDie(int signal) {
    removePartFiles();
    // SA_RESETHAND restored the default action: the raised signal ends the process once this
    // handler returns, with the status a shell expects.
    raise(signal);
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string nameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string randomSuffix() {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 gen{std::random_device{}()};
    std::string s(6, 'x');
    for (char& c : s) {
        c = letters[gen() % (sizeof letters - 1)];
    }
    return s;
}

// A hidden name beside `path` for its part file: the name with a dot before it and a random
// ending, or, where that would pass the longest name a folder takes, a short fixed one, so
// that any name that can be written can be written through its part file.
std::string hiddenNameFor(const std::string& path) {
    const std::string name = nameOf(path);
    const std::string ending = ".part-" + randomSuffix();
    const bool fits = 1 + name.size() + ending.size() <= NAME_MAX;
    return folderOf(path) + "." + (fits ? name : std::string("lumadoc")) + ending;
}

[[noreturn]] void fail(const std::string& what, int error) {
    throw WriteError(what + ": " + std::strerror(error), error);
}

} // namespace

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

WriteFault faultOf(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return WriteFault::DiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
    case ENOENT:
    case ENOTDIR:
        return WriteFault::FolderNotWritable;
    case ENAMETOOLONG:
        return WriteFault::NameTooLong;
    default:
        return WriteFault::Other;
    }
}

int exitStatusFor(const std::exception& e) {
    if (const auto* write = dynamic_cast<const WriteError*>(&e)) {
        switch (faultOf(write->error())) {
        case WriteFault::DiskFull:
            return TOOL_DISK_FULL;
        case WriteFault::FolderNotWritable:
            return TOOL_FOLDER_NOT_WRITABLE;
        case WriteFault::NameTooLong:
            return TOOL_NAME_TOO_LONG;
        case WriteFault::Other:
            break;
        }
    }
    return TOOL_FAILED;
}

AtomicFile::AtomicFile(std::string finalPath) : m_final(std::move(finalPath)) {
    const std::string folder = folderOf(m_final);
    m_fd = open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (m_fd >= 0) {
        m_temp = "/proc/self/fd/" + std::to_string(m_fd);
        if (access(m_temp.c_str(), W_OK) == 0) {
            return;
        }
        // Without /proc the unnamed file cannot be opened by path.
        close(m_fd);
        m_fd = -1;
    }

    // A hidden part file made with the mode of an ordinary document (the kernel applies the
    // umask; changing the umask here would race with other threads).
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = hiddenNameFor(m_final);
        const int fd = open(candidate.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            m_temp = candidate;
            m_slot = registerPart(m_temp);
            return;
        }
        if (errno != EEXIST) {
            fail("cannot write in the folder of " + m_final, errno);
        }
    }
    fail("cannot write in the folder of " + m_final, EEXIST);
}

AtomicFile::~AtomicFile() {
    if (m_fd >= 0) {
        close(m_fd);
    } else if (!m_committed) {
        std::remove(m_temp.c_str());
    }
    unregisterPart(m_slot);
}

std::string AtomicFile::linkHidden() {
    std::string hidden;
    for (int attempt = 0; attempt < 100; ++attempt) {
        hidden = hiddenNameFor(m_final);
        if (linkat(AT_FDCWD, m_temp.c_str(), AT_FDCWD, hidden.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return hidden;
        }
        if (errno != EEXIST) {
            fail("cannot write " + m_final, errno);
        }
    }
    fail("cannot write " + m_final, EEXIST);
}

void AtomicFile::park() {
    if (m_fd < 0) {
        return;
    }
    m_temp = linkHidden();
    m_slot = registerPart(m_temp);
    close(m_fd);
    m_fd = -1;
}

void AtomicFile::commit() {
    if (m_fd < 0) {
        if (std::rename(m_temp.c_str(), m_final.c_str()) != 0) {
            fail("cannot rename to " + m_final, errno);
        }
        m_committed = true;
        return;
    }
    // linkat never replaces a file: an existing output is replaced through a hidden name and
    // rename, which does.
    if (linkat(AT_FDCWD, m_temp.c_str(), AT_FDCWD, m_final.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        if (errno != EEXIST) {
            fail("cannot write " + m_final, errno);
        }
        const std::string hidden = linkHidden();
        const int slot = registerPart(hidden);
        const bool renamed = std::rename(hidden.c_str(), m_final.c_str()) == 0;
        const int error = errno;
        if (!renamed) {
            unlink(hidden.c_str());
        }
        unregisterPart(slot);
        if (!renamed) {
            fail("cannot rename to " + m_final, error);
        }
    }
    close(m_fd);
    m_fd = -1;
    m_committed = true;
}

void endWithParent() {
    const pid_t parent = getppid();
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The parent may have ended before the request took effect.
    if (getppid() != parent) {
        raise(SIGTERM);
    }
}

void installPartFileCleanup() {
    struct sigaction action {};
    action.sa_handler = cleanupAndDie;
    action.sa_flags = int(SA_RESETHAND);
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the parent told us to ignore (nohup, a background job) stays ignored.
        struct sigaction previous {};
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) {
            continue;
        }
        sigaction(signal, &action, nullptr);
    }
}

} // namespace pdftox
