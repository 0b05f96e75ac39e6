#include "prompts.h"

#include <cstdio>

namespace platform {
namespace {

class ConsolePrompts : public Prompts {
public:
    void showMessage(const QString& text, MessageIcon, const QString& title) override {
        std::fprintf(stderr, "%s: %s\n", title.toLocal8Bit().constData(),
                     text.toLocal8Bit().constData());
    }
    QString askPassword(const QString&, const QString&) override { return {}; }
};

Prompts* g_installed = nullptr;

} // namespace

Prompts& Prompts::current() {
    static ConsolePrompts fallback;
    return g_installed ? *g_installed : fallback;
}

void Prompts::install(Prompts* prompts) {
    g_installed = prompts;
}

void MsgBox(const QString& text, MessageIcon icon, const QString& title) {
    Prompts::current().showMessage(text, icon, title);
}

} // namespace platform
