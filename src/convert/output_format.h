#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <span>

namespace convert {

/// The ten output formats, by their position in the format list.
enum class OutputFormat : int {
    Word = 0,
    Rtf = 1,
    Text = 2,
    Jpeg = 3,
    Bmp = 4,
    Gif = 5,
    Png = 6,
    Tif = 7,
    Html = 8,
    Flash = 9,
};

constexpr int FormatCount = 10;

/// The settings rows by number (from 1), as the conversion run reads them. Row 3 means a
/// different setting per format.
namespace Row {
constexpr int FirstPage = 1;
constexpr int LastPage = 2;
constexpr int PageBreaks = 3;        ///< Text
constexpr int Flash6Compression = 3; ///< Flash
constexpr int Fps = 4;               ///< Flash
constexpr int PlayButton = 5;        ///< Flash
constexpr int Most = 5;
} // namespace Row

/// The value of "Last Page to Convert" that means through the document's last page.
inline constexpr char AllPagesText[] = "ALL PAGES";
inline const QString AllPages = QString::fromLatin1(AllPagesText);
inline const QString Yes = QStringLiteral("YES");
inline const QString No = QStringLiteral("NO");

/// Which back-end writes a format.
enum class Backend {
    LibraryText,  ///< the export library's RTF export (Word and RTF)
    LibraryImage, ///< the export library's image export, one file per page in a folder
    TextTool,     ///< pdftotext
    HtmlTool,     ///< data/pdf2htm, into a folder
    FlashTool,    ///< data/pdf2swf
};

/// One settings row of a format with its default value.
struct SettingDefault {
    const char* label;
    const char* value;
};

/// Everything the program knows about one output format.
struct FormatInfo {
    OutputFormat format;
    const char* listText;  ///< the format list's text: "Word Files(*.Doc)"
    const char* shortName; ///< what `lumadoc-cli --to` takes: "doc"
    const char* alias;     ///< a second name `--to` takes ("jpeg"), or null
    const char* extension; ///< of the one output file (".doc"); for folder formats, of the files
    bool writesFolder;     ///< a folder per input: the image formats and HTML
    Backend backend;
    int imageTypeCode;                        ///< LibraryImage: the export library's type code
    int imageColorDepth;                      ///< LibraryImage: 24, or 8 for a palette
    std::span<const SettingDefault> settings; ///< rows 1 and 2 and the format's own
};

/// The row of `format` in the format table.
const FormatInfo& formatInfo(OutputFormat format);

/// The whole table, in list order.
std::span<const FormatInfo> formatTable();

/// The format at a position of the format list; empty outside 0 to 9.
std::optional<OutputFormat> formatAt(int index);

inline int indexOf(OutputFormat format) {
    return static_cast<int>(format);
}

/// The texts of the format list, in order ("Word Files(*.Doc)", ...).
const QStringList& FormatListTexts();

/// The format of a short name (doc rtf txt jpg bmp gif png tif html swf, also jpeg, tiff and
/// htm, in any case, with or without a leading dot); empty for any other text.
std::optional<OutputFormat> formatFromShortName(const QString& name);

/// The short names joined with `separator`, in list order: "doc, rtf, ..., swf".
QString shortNameList(const QString& separator);

inline bool isImageFormat(OutputFormat format) {
    return formatInfo(format).backend == Backend::LibraryImage;
}

} // namespace convert
