#include "frm_main.h"

#include "platform/single_instance.h"
#include "platform/widget_prompts.h"
#include "platform/work_folders.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    const bool platformChosen = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (!platformChosen && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "lumadoc: no display here; run it under a virtual one with "
                             "'xvfb-run ./lumadoc' (or 'xvfb-run make run').\n");
        return EXIT_FAILURE;
    }

    QApplication app(argc, argv);
    // Work folders left by a run of ours that was killed go, with any decrypted copies in them.
    platform::WorkFolders::removeStale();
    QApplication::setApplicationName(QStringLiteral("Lumadoc"));
    // The application lives exactly as long as the launcher: it ends when the launcher closes,
    // not when the last visible window does (the launcher hides while the converter is open).
    QApplication::setQuitOnLastWindowClosed(false);

    // A second start ends at once and silently; the running instance comes forward.
    platform::SingleInstance instance(QStringLiteral("lumadoc"));
    if (!instance.acquire()) {
        return EXIT_SUCCESS;
    }

    platform::WidgetPrompts prompts;
    platform::Prompts::install(&prompts);

    shell::frmMain launcher;
    QObject::connect(&instance, &platform::SingleInstance::activationRequested, &launcher,
                     &shell::frmMain::bringToFront);
    launcher.show();
    return app.exec();
}
