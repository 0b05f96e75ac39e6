// lumadoc-cli: Lumadoc's conversions from the terminal.
#include "cli_front_end.h"
#include "platform/raw_names.h"
#include "platform/work_folders.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // Work folders left by a run of ours that was killed go, with any decrypted copies in them.
    platform::WorkFolders::removeStale();
    // A file named in bytes that are not UTF-8 (a Latin-1 "caf\xE9.pdf") is reached through a
    // link; options and passwords are taken as they are.
    QStringList args;
    for (int i = 1; i < argc; ++i) {
        const bool password = std::strcmp(argv[i - 1], "--password") == 0 ||
                              std::strncmp(argv[i], "--password=", 11) == 0;
        args << (password || argv[i][0] == '-' ? QString::fromLocal8Bit(argv[i])
                                               : platform::ReachablePath(argv[i]));
    }
    // The program keeps its own copy of the arguments: a password given on the command line
    // leaves the memory that the process list shows to other users.
    for (int i = 1; i < argc; ++i) {
        char* value = nullptr;
        if (std::strcmp(argv[i], "--password") == 0 && i + 1 < argc) {
            value = argv[i + 1];
        } else if (std::strncmp(argv[i], "--password=", 11) == 0) {
            value = argv[i] + 11;
        }
        if (value && std::strcmp(value, "-") != 0) {
            std::memset(value, 'x', std::strlen(value));
        }
    }
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
