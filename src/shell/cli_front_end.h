#pragma once

#include <QStringList>

namespace shell {

/// `lumadoc-cli convert`: converts PDF files from the terminal through the same conversion
/// run as the window. `args` are the arguments after "convert". Prints a line per file saying
/// what it wrote or why it wrote nothing. Returns 0 when every file produced its output, 1
/// otherwise, 2 for a usage error.
int convertCommand(const QStringList& args);

/// The usage text of the command.
QString convertUsage();

/// `lumadoc-cli images2pdf`: one PDF from images through the same assembly as the image
/// window. `args` are the arguments after "images2pdf". Returns 0 when the PDF was written, 1
/// when it was not (the reason on standard error), 2 for a usage error.
int imagesCommand(const QStringList& args);

/// The usage text of the command.
QString imagesUsage();

} // namespace shell
