#include "output_format.h"

#include <array>

namespace convert {
namespace {

// Every format starts with the page range.
constexpr SettingDefault firstPage{"First Page to Convert", "1"};
constexpr SettingDefault lastPage{"Last Page to Convert", AllPagesText};
constexpr SettingDefault pageRows[] = {firstPage, lastPage};
constexpr SettingDefault textRows[] = {firstPage, lastPage, {"Page Breaks", "YES"}};
constexpr SettingDefault flashRows[] = {
    firstPage, lastPage, {"Flash 6 Compression", "YES"}, {"FPS", "0.5"}, {"Play Button", "NO"}};

using F = OutputFormat;
using B = Backend;

// One row per format, in the order of the format list. Adding a format starts here.
constexpr std::array<FormatInfo, FormatCount> table{{
    {F::Word, "Word Files(*.Doc)", "doc", nullptr, ".doc", false, B::LibraryText, 0, 0, pageRows},
    {F::Rtf, "RTF Files(*.rtf)", "rtf", nullptr, ".rtf", false, B::LibraryText, 0, 0, pageRows},
    {F::Text, "Text Files(*.txt)", "txt", nullptr, ".txt", false, B::TextTool, 0, 0, textRows},
    {F::Jpeg, "JPEG Files(*.jpg)", "jpg", "jpeg", ".jpg", true, B::LibraryImage, 2, 24, pageRows},
    {F::Bmp, "BMP Files(*.bmp)", "bmp", nullptr, ".bmp", true, B::LibraryImage, 1, 24, pageRows},
    {F::Gif, "GIF Files(*.gif)", "gif", nullptr, ".gif", true, B::LibraryImage, 5, 8, pageRows},
    {F::Png, "PNG Files(*.png)", "png", nullptr, ".png", true, B::LibraryImage, 4, 24, pageRows},
    {F::Tif, "TIF Files(*.tif)", "tif", "tiff", ".tif", true, B::LibraryImage, 3, 24, pageRows},
    {F::Html, "HTML Files(*.html)", "html", "htm", ".html", true, B::HtmlTool, 0, 0, pageRows},
    {F::Flash, "Flash Files(*.swf)", "swf", nullptr, ".swf", false, B::FlashTool, 0, 0, flashRows},
}};

static_assert(
    [] {
        for (int i = 0; i < FormatCount; ++i) {
            if (static_cast<int>(table[static_cast<std::size_t>(i)].format) != i) {
                return false;
            }
        }
        return true;
    }(),
    "the format table is in list order");

} // namespace

const FormatInfo& formatInfo(OutputFormat format) {
    return table[static_cast<std::size_t>(format)];
}

std::span<const FormatInfo> formatTable() {
    return table;
}

std::optional<OutputFormat> formatAt(int index) {
    if (index < 0 || index >= FormatCount) {
        return std::nullopt;
    }
    return static_cast<OutputFormat>(index);
}

const QStringList& FormatListTexts() {
    static const QStringList texts = [] {
        QStringList list;
        for (const FormatInfo& info : table) {
            list.append(QString::fromLatin1(info.listText));
        }
        return list;
    }();
    return texts;
}

std::optional<OutputFormat> formatFromShortName(const QString& name) {
    QString n = name.toLower();
    if (n.startsWith(QChar('.'))) {
        n.remove(0, 1);
    }
    for (const FormatInfo& info : table) {
        if (n == QLatin1String(info.shortName) ||
            (info.alias != nullptr && n == QLatin1String(info.alias))) {
            return info.format;
        }
    }
    return std::nullopt;
}

QString shortNameList(const QString& separator) {
    QStringList names;
    for (const FormatInfo& info : table) {
        names.append(QString::fromLatin1(info.shortName));
    }
    return names.join(separator);
}

} // namespace convert
