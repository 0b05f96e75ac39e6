// lumaimg: the image-to-PDF program, the window "Create PDF From Images" on its own.
#include "skin.h"

#include "images2pdf/frm_printing.h"
#include "platform/start_window.h"
#include "platform/widget_prompts.h"
#include "platform/work_folders.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    const bool platformChosen = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (!platformChosen && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "lumaimg: no display here; run it under a virtual one with "
                             "'xvfb-run ./lumaimg'.\n");
        return EXIT_FAILURE;
    }

    QApplication app(argc, argv);
    // Work folders left by a run of ours that was killed go, with any decrypted copies in them.
    platform::WorkFolders::removeStale();
    // Its own name on the accessibility bus, so that screen readers and other tools tell it
    // apart from the launcher that starts it.
    QApplication::setApplicationName(QStringLiteral("lumaimg"));
    shell::SkinH_Attach();

    platform::WidgetPrompts prompts;
    platform::Prompts::install(&prompts);

    images2pdf::frmPrinting window;
    shell::SkinH_Aero(&window);
    shell::SkinH_Aero_Adjust(220, 0, 0, 0, 0, 0, 0, 0, 0);
    // The program has no launcher of its own to go back to: closing the window ends it.
    QObject::connect(&window, &images2pdf::frmPrinting::launcherRequested, &app,
                     &QApplication::quit, Qt::QueuedConnection);
    platform::ShowAsStarted(&window);
    const int status = app.exec();
    shell::SkinH_Detach();
    return status;
}
