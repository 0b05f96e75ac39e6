#pragma once

#include "output_format.h"

#include <QAbstractTableModel>
#include <QString>
#include <QVector>

#include <optional>

namespace convert {

/// One row of the settings list: the Option and Value cells.
struct SettingsRow {
    QString label;
    QString value;
};

/// The settings list of the converter and its in-place editing, as a two-column table model
/// ("Option", "Value"): the rows of the chosen format with their defaults, the choice of editor
/// for a row, and the corrections of typed values. Model rows count from 0; the row numbers of
/// value(), setValue() and the Row constants count from 1, as the conversion run reads them.
class ConversionSettings : public QAbstractTableModel {
    Q_OBJECT
public:
    enum class Editor { Text, YesNo };
    enum Column { OptionColumn = 0, ValueColumn = 1 };
    /// data() of a Value cell under this role: the Editor (as int) that the row opens.
    static constexpr int EditorRole = Qt::UserRole + 1;

    explicit ConversionSettings(QObject* parent = nullptr);

    /// The selected format, empty when none.
    std::optional<OutputFormat> format() const { return m_format; }
    /// The selected position of the format list, -1 when none.
    int formatIndex() const { return m_format ? indexOf(*m_format) : -1; }
    const QVector<SettingsRow>& rows() const { return m_rows; }
    int rowCount() const { return int(m_rows.size()); }
    /// The Value cell of row `row` (from 1), or empty text when there is no such row.
    QString value(int row) const;

    /// The format selection changed: a position 0 to 9 rebuilds the rows with its defaults; any
    /// other index selects nothing and leaves the rows as they are.
    void cmbOF_Click(int index);
    void selectFormat(OutputFormat format) { cmbOF_Click(indexOf(format)); }

    /// A row was clicked: selects it and tells which editor to open, the chooser for a value of
    /// exactly "YES" or "NO", the text box otherwise.
    Editor LV2_Click(int row);
    int selectedRow() const { return m_selected; }
    /// The editor that row `row` (from 1) opens.
    Editor editorFor(int row) const;

    /// The text editor's text changed: the selected row takes it, corrected.
    void txtValue_Change(const QString& text);
    /// A choice in the chooser: the selected row takes it.
    void cmbYesNo_Click(const QString& choice);

    /// What row `row` (from 1) holds when `text` is typed into it: the text itself, or its
    /// correction ("1", "ALL PAGES", "0.5" or "10").
    QString corrected(int row, const QString& text) const;

    /// Sets row `row` (from 1) to `value` as it stands, for callers that checked it themselves.
    void setValue(int row, const QString& value);

    /// The rows of a format with their defaults.
    static QVector<SettingsRow> defaultRows(OutputFormat format);

    int rowCount(const QModelIndex& parent) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    /// Editing a Value cell: a choice of "YES" or "NO" in a chooser row is taken, any other
    /// text is corrected as typing corrects it.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

private:
    std::optional<OutputFormat> m_format;
    int m_selected = 0;
    QVector<SettingsRow> m_rows;
};

} // namespace convert
