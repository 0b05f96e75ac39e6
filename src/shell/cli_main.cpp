// lumadoc-cli: Lumadoc's conversions from the terminal.
#include "cli_front_end.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    if (!args.isEmpty() &&
        (args.front() == QStringLiteral("--help") || args.front() == QStringLiteral("-h") ||
         args.front() == QStringLiteral("help"))) {
        std::printf("%s", shell::convertUsage().toLocal8Bit().constData());
        return 0;
    }
    if (!args.isEmpty() && args.front() == QStringLiteral("images2pdf")) {
        args.removeFirst();
        return shell::imagesCommand(args);
    }
    if (args.isEmpty() || args.front() != QStringLiteral("convert")) {
        std::fprintf(stderr, "usage: lumadoc-cli convert --to FORMAT [options] FILE.pdf...\n"
                             "       lumadoc-cli convert --help\n"
                             "       lumadoc-cli images2pdf [options] -o FOLDER IMAGE...\n"
                             "       lumadoc-cli images2pdf --help\n");
        return 2;
    }
    args.removeFirst();
    return shell::convertCommand(args);
}
