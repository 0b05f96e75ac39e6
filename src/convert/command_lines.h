#pragma once

#include "platform/conventions.h"

#include <QString>

namespace convert {

/// A command line the run starts, and the executable file name of its program.
struct ToolCommand {
    QString commandLine;
    QString exeName;
};

/// The settings rows a command line reads, by row number: row(1) first page, row(2) last
/// page, and per format row(3) to row(5).
struct RowValues {
    QString row[6];
    const QString& operator()(int n) const { return row[n]; }
};

/// Text: "pdftotext" SOURCE OUT.txt -f FIRST [-l LAST] [-nopgbrk].
ToolCommand TextCommandLine(const platform::Conventions& conv, const QString& appFolder,
                            const QString& source, const QString& outputStem,
                            const RowValues& rows);

/// HTML: data/pdf2htm  -f FIRST [-l LAST] SOURCE STEM/BASE.html.
ToolCommand HtmlCommandLine(const platform::Conventions& conv, const QString& appFolder,
                            const QString& source, const QString& outputStem,
                            const QString& baseName, const RowValues& rows);

/// Flash: data/pdf2swf [-s simpleviewer] -s framerate=FPS -q [-z] [-p A-B] SOURCE -o STEM.swf.
ToolCommand FlashCommandLine(const platform::Conventions& conv, const QString& appFolder,
                             const QString& source, const QString& outputStem,
                             const RowValues& rows);

/// Decryption of the protected copy tmp2.pdf into tmp.pdf in the conventions' work folder.
ToolCommand DecryptionCommandLine(const platform::Conventions& conv, const QString& appFolder,
                                  const QString& password);

/// A program path as it stands at the start of a command line: unquoted, unless it holds a
/// blank or a quote (platform::QuoteIfNeeded).
QString ProgramPath(const QString& path);

} // namespace convert
