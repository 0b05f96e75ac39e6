#pragma once

#include <stdexcept>
#include <string>

namespace platform {

/// A failure inside clsWaitableTimer::Wait; what() starts with "[clsWaitableTimer.Wait]".
class WaitError : public std::runtime_error {
public:
    explicit WaitError(const std::string& description)
        : std::runtime_error("[clsWaitableTimer.Wait]" + description) {}
};

/// A wait that keeps the calling thread's events flowing: timers fire, windows repaint and
/// user input is handled while it waits. Each wait is independent of every other.
class clsWaitableTimer {
public:
    /// Returns no earlier than `MilliSeconds` after the call (0 or less: after handling the
    /// pending events once). Throws WaitError when the wait fails.
    void Wait(int MilliSeconds);

    /// True while Wait runs on this object.
    bool isWaiting() const { return m_waiting; }

private:
    bool m_waiting = false;
};

} // namespace platform
