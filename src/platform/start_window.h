#pragma once

class QWidget;

namespace platform {

/// Shows a program's first window the way its starter asked (Processes::startDetached with
/// StartWindow::MinimizedFocused: minimized, yet active), otherwise as a normal window. The
/// request is used once: programs this one starts do not inherit it.
void ShowAsStarted(QWidget* window);

} // namespace platform
