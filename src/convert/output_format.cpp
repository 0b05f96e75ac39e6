#include "output_format.h"

#include "numeric.h"

namespace convert {
namespace {

const QString firstPage = QStringLiteral("First Page to Convert");
const QString lastPage = QStringLiteral("Last Page to Convert");
const QString allPages = QStringLiteral("ALL PAGES");
const QString fps = QStringLiteral("FPS");

bool onlyDigits(const QString& text) {
    for (const QChar c : text) {
        if (c < QChar('0') || c > QChar('9')) {
            return false;
        }
    }
    return true;
}

const char* const extensions[FormatCount] = {"doc", "rtf", "txt", "jpg",  "bmp",
                                             "gif", "png", "tif", "html", "swf"};

} // namespace

const QStringList& FormatListTexts() {
    static const QStringList texts = {
        QStringLiteral("Word Files(*.Doc)"),  QStringLiteral("RTF Files(*.rtf)"),
        QStringLiteral("Text Files(*.txt)"),  QStringLiteral("JPEG Files(*.jpg)"),
        QStringLiteral("BMP Files(*.bmp)"),   QStringLiteral("GIF Files(*.gif)"),
        QStringLiteral("PNG Files(*.png)"),   QStringLiteral("TIF Files(*.tif)"),
        QStringLiteral("HTML Files(*.html)"), QStringLiteral("Flash Files(*.swf)")};
    return texts;
}

int imageTypeCode(int index) {
    switch (index) {
    case Jpeg:
        return 2;
    case Bmp:
        return 1;
    case Gif:
        return 5;
    case Png:
        return 4;
    case Tif:
        return 3;
    default:
        return 0;
    }
}

int imageColorDepth(int index) {
    return index == Gif ? 8 : 24;
}

QString outputExtension(int index) {
    switch (index) {
    case Word:
        return QStringLiteral(".doc");
    case Rtf:
        return QStringLiteral(".rtf");
    case Text:
        return QStringLiteral(".txt");
    case Flash:
        return QStringLiteral(".swf");
    default:
        return {};
    }
}

int formatFromExtension(const QString& extension) {
    QString e = extension.toLower();
    if (e.startsWith(QChar('.'))) {
        e.remove(0, 1);
    }
    if (e == QStringLiteral("jpeg")) {
        return Jpeg;
    }
    if (e == QStringLiteral("tiff")) {
        return Tif;
    }
    if (e == QStringLiteral("htm")) {
        return Html;
    }
    for (int i = 0; i < FormatCount; ++i) {
        if (e == QLatin1String(extensions[i])) {
            return i;
        }
    }
    return -1;
}

QString extensionOfFormat(int index) {
    return index >= 0 && index < FormatCount ? QString::fromLatin1(extensions[index]) : QString();
}

ConversionSettings::ConversionSettings(QObject* parent) : QObject(parent) {}

QVector<SettingsRow> ConversionSettings::defaultRows(int index) {
    QVector<SettingsRow> rows{{firstPage, QStringLiteral("1")}, {lastPage, allPages}};
    if (index == Text) {
        rows.append({QStringLiteral("Page Breaks"), QStringLiteral("YES")});
    } else if (index == Flash) {
        rows.append({QStringLiteral("Flash 6 Compression"), QStringLiteral("YES")});
        rows.append({fps, QStringLiteral("0.5")});
        rows.append({QStringLiteral("Play Button"), QStringLiteral("NO")});
    }
    return rows;
}

QString ConversionSettings::value(int row) const {
    return row >= 1 && row <= rowCount() ? m_rows[row - 1].value : QString();
}

void ConversionSettings::cmbOF_Click(int index) {
    if (index < 0 || index >= FormatCount) {
        m_format = -1;
        return;
    }
    m_format = index;
    m_rows = defaultRows(index);
    m_selected = 0;
    emit rowsReset();
}

ConversionSettings::Editor ConversionSettings::LV2_Click(int row) {
    m_selected = row >= 1 && row <= rowCount() ? row : 0;
    const QString v = value(m_selected);
    return v == QStringLiteral("YES") || v == QStringLiteral("NO") ? Editor::YesNo : Editor::Text;
}

void ConversionSettings::setValue(int row, const QString& value) {
    if (row < 1 || row > rowCount()) {
        return;
    }
    m_rows[row - 1].value = value;
    emit rowChanged(row);
}

void ConversionSettings::txtValue_Change(const QString& text) {
    const int row = m_selected;
    if (row < 1 || row > rowCount()) {
        return;
    }
    QString corrected = text;
    if (m_rows[row - 1].label == fps) {
        if (NumericValue(text) > 10) {
            corrected = QStringLiteral("10");
        } else if (!onlyDigits(text)) {
            corrected = QStringLiteral("0.5");
        }
    } else if (!onlyDigits(text)) {
        corrected = row == 2 ? allPages : QStringLiteral("1");
    }
    setValue(row, corrected);
}

void ConversionSettings::cmbYesNo_Click(const QString& choice) {
    setValue(m_selected, choice);
}

} // namespace convert
