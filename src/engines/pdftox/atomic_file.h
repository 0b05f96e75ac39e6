#pragma once

#include <stdexcept>
#include <string>

namespace pdftox {

/// A failure to write an output, with the errno that caused it (0 when none is known).
class WriteError : public std::runtime_error {
public:
    WriteError(const std::string& what, int error) : std::runtime_error(what), m_error(error) {}
    int error() const { return m_error; }

private:
    int m_error;
};

/// Why an output could not be written, as a user would be told.
enum class WriteFault {
    DiskFull,          ///< no space left (ENOSPC, EDQUOT, EFBIG)
    FolderNotWritable, ///< missing, read-only or forbidden folder
    NameTooLong,       ///< a name or path longer than the file system takes (ENAMETOOLONG)
    Other,
};

WriteFault faultOf(int error);

/// Whether the two paths name one existing file (through links too): an output that must not
/// be written over its own input.
bool sameFile(const std::string& a, const std::string& b);

/// The exit status (tool_status.h) for a program that ends with `e`: TOOL_DISK_FULL or
/// TOOL_FOLDER_NOT_WRITABLE or TOOL_NAME_TOO_LONG for a WriteError of that kind, otherwise
/// TOOL_FAILED.
int exitStatusFor(const std::exception& e);

/// A file written under no name or a hidden temporary name in its final folder and given its
/// final name by commit(), so a file under the final name is always a whole one. Where the file
/// system allows it the file is made with O_TMPFILE and has no name at all until commit() links
/// it, so not even a killed process leaves a part file; elsewhere it is a hidden ".NAME.part-*"
/// file that the destructor, or the signal cleanup below, removes. Without commit() nothing
/// stays.
class AtomicFile {
public:
    /// Creates the temporary file; throws WriteError when the folder is not writable.
    explicit AtomicFile(std::string finalPath);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    /// The path to write the content through (open it for writing; it may name the file only
    /// while this object lives, as /proc/self/fd/N does).
    const std::string& tempPath() const { return m_temp; }
    const std::string& finalPath() const { return m_final; }
    /// Gives the file its final name (replacing an older file); throws WriteError on failure.
    void commit();
    /// Closes the descriptor of an unnamed file by giving it a hidden part name, for a caller
    /// that holds many files at once; tempPath() then names that part file.
    void park();

private:
    std::string linkHidden();

    std::string m_final;
    std::string m_temp;
    int m_fd = -1;   ///< the unnamed file, when O_TMPFILE is used
    int m_slot = -1; ///< the registered part file, otherwise
    bool m_committed = false;
};

/// Makes SIGINT, SIGTERM and SIGHUP remove the part files of this process before it ends with
/// the signal. For programs; a library never installs signal handlers.
void installPartFileCleanup();

/// Makes the process receive SIGTERM when the process that started it ends, however it ends:
/// a tool never outlives a program that was killed. For programs.
void endWithParent();

} // namespace pdftox
