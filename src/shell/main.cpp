#include "convert/frm_converter.h"

#include "platform/single_instance.h"
#include "platform/widget_prompts.h"

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
    QApplication::setApplicationName(QStringLiteral("Lumadoc"));

    // A second start ends silently; the running instance comes forward.
    platform::SingleInstance instance(QStringLiteral("lumadoc"));
    if (!instance.acquire()) {
        return EXIT_SUCCESS;
    }

    platform::WidgetPrompts prompts;
    platform::Prompts::install(&prompts);

    // The converter is the first window until the launcher takes its place.
    convert::frmConverter window;
    QObject::connect(&instance, &platform::SingleInstance::activationRequested, &window, [&window] {
        window.show();
        window.raise();
        window.activateWindow();
    });
    window.show();
    return app.exec();
}
