#pragma once

#include <stdexcept>
#include <string>

namespace tools {

/// A command line that a tool does not understand. `what()` says what is wrong, or is empty
/// when only the tool's synopsis says it; `wantsSynopsis()` tells the tool to print its synopsis
/// after the message.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& message, bool synopsis = false)
        : std::runtime_error(message), m_synopsis(synopsis) {}
    bool wantsSynopsis() const { return m_synopsis; }

private:
    bool m_synopsis;
};

} // namespace tools
