#include "command_lines.h"

#include "output_format.h"

#include "platform/command_line.h"

namespace convert {
namespace {

QString program(const platform::Conventions& conv, const QString& appFolder, bool inData,
                const QString& name) {
    const QString folder = inData ? conv.join(appFolder, QStringLiteral("data")) : appFolder;
    return ProgramPath(conv.join(folder, conv.exe(name)));
}

} // namespace

QString ProgramPath(const QString& path) {
    return platform::QuoteIfNeeded(path);
}

ToolCommand TextCommandLine(const platform::Conventions& conv, const QString& appFolder,
                            const QString& source, const QString& outputStem,
                            const RowValues& rows) {
    using platform::QuoteArg;
    QString line = program(conv, appFolder, false, QStringLiteral("pdftotext")) + QChar(' ') +
                   QuoteArg(source) + QChar(' ') + QuoteArg(outputStem + QStringLiteral(".txt")) +
                   QChar(' ');
    line += QStringLiteral("-f ") + rows(Row::FirstPage) + QChar(' ');
    if (rows(Row::LastPage) != AllPages) {
        line += QStringLiteral("-l ") + rows(Row::LastPage) + QChar(' ');
    }
    if (rows(Row::PageBreaks) == No) {
        line += QStringLiteral("-nopgbrk ");
    }
    return {line, conv.exe(QStringLiteral("pdftotext"))};
}

ToolCommand HtmlCommandLine(const platform::Conventions& conv, const QString& appFolder,
                            const QString& source, const QString& outputStem,
                            const QString& baseName, const RowValues& rows) {
    using platform::QuoteArg;
    QString line = program(conv, appFolder, true, QStringLiteral("pdf2htm")) + QStringLiteral(" ") +
                   QStringLiteral(" -f ") + rows(Row::FirstPage);
    if (rows(Row::LastPage) != AllPages) {
        line += QStringLiteral(" -l ") + rows(Row::LastPage);
    }
    line += QChar(' ') + QuoteArg(source) + QChar(' ') +
            QuoteArg(outputStem + conv.separator + baseName + QStringLiteral(".html")) + QChar(' ');
    return {line, conv.exe(QStringLiteral("pdf2htm"))};
}

ToolCommand FlashCommandLine(const platform::Conventions& conv, const QString& appFolder,
                             const QString& source, const QString& outputStem,
                             const RowValues& rows) {
    using platform::QuoteArg;
    QString line = program(conv, appFolder, true, QStringLiteral("pdf2swf"));
    if (rows(Row::PlayButton) == Yes) {
        line += QStringLiteral(" -s simpleviewer");
    }
    line += QStringLiteral(" -s framerate=") + rows(Row::Fps);
    const bool compress = rows(Row::Flash6Compression) == Yes;
    const bool all = rows(Row::LastPage) == AllPages;
    line += compress ? QStringLiteral(" -q -z ") : QStringLiteral(" -q ");
    if (!all) {
        line += QStringLiteral("-p ") + rows(Row::FirstPage) + QChar('-') + rows(Row::LastPage) +
                QChar(' ');
    }
    line += QuoteArg(source) + QStringLiteral(" -o ") +
            QuoteArg(outputStem + QStringLiteral(".swf")) + QChar(' ');
    return {line, conv.exe(QStringLiteral("pdf2swf"))};
}

ToolCommand DecryptionCommandLine(const platform::Conventions& conv, const QString& appFolder,
                                  const QString& password) {
    const QString line =
        program(conv, appFolder, true, QStringLiteral("pdftk")) + QChar(' ') +
        platform::QuoteIfNeeded(conv.join(conv.tmpFolder, QStringLiteral("tmp2.pdf"))) +
        QStringLiteral(" input_pw ") + platform::QuoteArg(password) + QStringLiteral(" output ") +
        platform::QuoteIfNeeded(conv.join(conv.tmpFolder, QStringLiteral("tmp.pdf"))) +
        QStringLiteral(" dont_ask");
    return {line, conv.exe(QStringLiteral("pdftk"))};
}

} // namespace convert
