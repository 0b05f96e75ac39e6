#include "start_window.h"

#include <QWidget>

namespace platform {

void ShowAsStarted(QWidget* window) {
    const bool minimized =
        qEnvironmentVariable("LUMADOC_START_WINDOW") == QLatin1String("minimized");
    qunsetenv("LUMADOC_START_WINDOW");
    if (minimized) {
        window->showMinimized();
        window->activateWindow();
    } else {
        window->show();
    }
}

} // namespace platform
