#pragma once

#include <string>

namespace pdftox {

/// A file written under a hidden temporary name in its final folder and renamed to its final
/// name by commit(), so a file under the final name is always a whole one. Without commit()
/// the temporary file is removed.
class AtomicFile {
public:
    /// Creates the temporary file; throws std::runtime_error when the folder is not writable.
    explicit AtomicFile(std::string finalPath);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    const std::string& tempPath() const { return m_temp; }
    /// Renames the temporary file to the final name (replacing an older file); throws on failure.
    void commit();

private:
    std::string m_final;
    std::string m_temp;
    bool m_committed = false;
};

} // namespace pdftox
