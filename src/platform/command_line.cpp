#include "command_line.h"

namespace platform {
namespace {

bool isBlank(QChar c) {
    return c == QChar(' ') || c == QChar('\t');
}

} // namespace

QString QuoteArg(const QString& text) {
    const QChar quote('"');
    const QChar backslash('\\');
    if (!text.contains(quote) && !text.endsWith(backslash)) {
        return quote + text + quote;
    }
    QString out(quote);
    qsizetype slashes = 0;
    for (const QChar c : text) {
        if (c == backslash) {
            ++slashes;
            continue;
        }
        if (c == quote) {
            out += QString(slashes * 2 + 1, backslash);
            out += quote;
        } else {
            out += QString(slashes, backslash);
            out += c;
        }
        slashes = 0;
    }
    // Backslashes before the closing quote must not escape it.
    out += QString(slashes * 2, backslash);
    out += quote;
    return out;
}

QString QuoteIfNeeded(const QString& path) {
    const bool splits =
        path.contains(QChar(' ')) || path.contains(QChar('\t')) || path.contains(QChar('"'));
    return splits ? QuoteArg(path) : path;
}

QStringList SplitCommandLine(const QString& commandLine) {
    const QChar quote('"');
    const QChar backslash('\\');
    QStringList args;
    const qsizetype n = commandLine.size();
    qsizetype i = 0;

    while (i < n && isBlank(commandLine[i])) {
        ++i;
    }
    if (i >= n) {
        return args;
    }

    // The program name: quotes only group, backslashes are literal, except before a quote:
    // a folder named with a quote ("/opt/my \"app\"") reaches its programs.
    QString program;
    bool inQuotes = false;
    for (; i < n; ++i) {
        const QChar c = commandLine[i];
        if (c == backslash) {
            qsizetype end = i;
            while (end < n && commandLine[end] == backslash) {
                ++end;
            }
            const qsizetype slashes = end - i;
            if (end < n && commandLine[end] == quote) {
                program += QString(slashes / 2, backslash);
                if (slashes % 2 == 1) {
                    program += quote;
                    i = end;
                    continue;
                }
            } else {
                program += QString(slashes, backslash);
            }
            i = end - 1;
            continue;
        }
        if (c == quote) {
            inQuotes = !inQuotes;
        } else if (isBlank(c) && !inQuotes) {
            break;
        } else {
            program += c;
        }
    }
    args.append(program);

    while (true) {
        while (i < n && isBlank(commandLine[i])) {
            ++i;
        }
        if (i >= n) {
            break;
        }
        QString arg;
        inQuotes = false;
        while (i < n) {
            const QChar c = commandLine[i];
            if (c == backslash) {
                qsizetype slashes = 0;
                while (i < n && commandLine[i] == backslash) {
                    ++slashes;
                    ++i;
                }
                if (i < n && commandLine[i] == quote) {
                    arg += QString(slashes / 2, backslash);
                    if (slashes % 2 == 1) {
                        arg += quote;
                        ++i;
                    }
                    // An even count leaves the quote to toggle on the next pass.
                } else {
                    arg += QString(slashes, backslash);
                }
                continue;
            }
            if (c == quote) {
                if (inQuotes && i + 1 < n && commandLine[i + 1] == quote) {
                    arg += quote;
                    i += 2;
                    continue;
                }
                inQuotes = !inQuotes;
                ++i;
                continue;
            }
            if (isBlank(c) && !inQuotes) {
                break;
            }
            arg += c;
            ++i;
        }
        args.append(arg);
    }
    return args;
}

} // namespace platform
