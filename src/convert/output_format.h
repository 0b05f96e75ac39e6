#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

namespace convert {

/// The ten output formats, by their position in the format list.
enum OutputFormat : int {
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

/// The texts of the format list, in order ("Word Files(*.Doc)", ...).
const QStringList& FormatListTexts();

/// True for the five image formats (JPEG to TIF).
inline bool isImageFormat(int index) {
    return index >= Jpeg && index <= Tif;
}

/// The export library's image type code and colour depth of an image format.
int imageTypeCode(int index);
int imageColorDepth(int index);

/// The extension of a single-file format with its dot (".doc", ".rtf", ".txt", ".swf"),
/// empty for the formats that write a folder.
QString outputExtension(int index);

/// Short names of the formats as the command line takes them: doc rtf txt jpg bmp gif png tif
/// html swf. Returns -1 for an unknown name.
int formatFromExtension(const QString& extension);
QString extensionOfFormat(int index);

/// One row of the settings list: the Option and Value cells.
struct SettingsRow {
    QString label;
    QString value;
};

/// The settings list of the converter and its in-place editing: the rows of the chosen format
/// with their defaults, the choice of editor for a row, and the corrections of typed values.
/// Rows are numbered from 1, as the conversion run reads them.
class ConversionSettings : public QObject {
    Q_OBJECT
public:
    enum class Editor { Text, YesNo };

    explicit ConversionSettings(QObject* parent = nullptr);

    /// The selected format, -1 when none.
    int formatIndex() const { return m_format; }
    const QVector<SettingsRow>& rows() const { return m_rows; }
    int rowCount() const { return int(m_rows.size()); }
    /// The Value cell of row `row` (from 1), or empty text when there is no such row.
    QString value(int row) const;

    /// The format selection changed: a format 0 to 9 rebuilds the rows with its defaults; any
    /// other index selects nothing and leaves the rows as they are.
    void cmbOF_Click(int index);

    /// A row was clicked: selects it and tells which editor to open, the chooser for a value of
    /// exactly "YES" or "NO", the text box otherwise.
    Editor LV2_Click(int row);
    int selectedRow() const { return m_selected; }

    /// The text editor's text changed: the selected row takes it, corrected.
    void txtValue_Change(const QString& text);
    /// A choice in the chooser: the selected row takes it.
    void cmbYesNo_Click(const QString& choice);

    /// Sets row `row` (from 1) to `value` as it stands, for callers that checked it themselves.
    void setValue(int row, const QString& value);

    /// The rows of a format with their defaults.
    static QVector<SettingsRow> defaultRows(int index);

signals:
    void rowsReset();
    void rowChanged(int row);

private:
    int m_format = -1;
    int m_selected = 0;
    QVector<SettingsRow> m_rows;
};

} // namespace convert
