#pragma once

#include "conversion_settings.h"
#include "output_format.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace convert {

/// One conversion asked for outside the window: the format, its settings by name, the inputs.
/// apply() turns it into the settings rows through the same corrections the window applies to
/// typed values, so a job and the window agree on what a value means.
struct ConversionJob {
    OutputFormat format = OutputFormat::Word;
    QString outputFolder; ///< empty: the default output folder
    QString firstPage = QStringLiteral("1");
    QString lastPage = AllPages;
    std::optional<bool> pageBreaks; ///< Text
    std::optional<bool> compress;   ///< Flash
    std::optional<QString> fps;     ///< Flash
    std::optional<bool> playButton; ///< Flash
    /// Word, RTF and HTML: read the words of scanned pages; not given means yes.
    std::optional<bool> textRecognition;
    QString password; ///< tried first for protected files
    /// Where the password is to be read from instead: a file's first line, or, for "-", the
    /// first line of the standard input. Empty: none.
    QString passwordSource;
    QStringList inputs; ///< PDF files and folders, as given

    /// Selects the format in `settings` and sets its rows. Returns the first setting whose
    /// value the corrections changed (for example "FPS" for 2.5, which the rows take as 0.5),
    /// or empty text when every value stands as given.
    QString apply(ConversionSettings& settings) const;
};

/// The result of reading the arguments of `lumadoc-cli convert`.
struct ParsedConvertCommand {
    enum class Kind { Run, Help, UsageError };
    Kind kind = Kind::UsageError;
    ConversionJob job;
    QString error; ///< for UsageError: what was wrong, one line
};

/// Reads the arguments after "convert" (options may stand anywhere; `--opt=value` and
/// `--opt value` alike). Pure: touches no file.
ParsedConvertCommand parseConvertArguments(const QStringList& args);

/// The usage text of `lumadoc-cli convert`; `defaultOutputFolder` is shown as the default.
QString convertUsage(const QString& defaultOutputFolder);

} // namespace convert
