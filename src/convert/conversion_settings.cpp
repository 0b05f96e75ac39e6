#include "conversion_settings.h"

#include "numeric.h"

namespace convert {
namespace {

const QString fpsLabel = QStringLiteral("FPS");

bool onlyDigits(const QString& text) {
    for (const QChar c : text) {
        if (c < QChar('0') || c > QChar('9')) {
            return false;
        }
    }
    return true;
}

} // namespace

ConversionSettings::ConversionSettings(QObject* parent) : QAbstractTableModel(parent) {}

QVector<SettingsRow> ConversionSettings::defaultRows(OutputFormat format) {
    QVector<SettingsRow> rows;
    for (const SettingDefault& row : formatInfo(format).settings) {
        rows.append({QString::fromLatin1(row.label), QString::fromLatin1(row.value)});
    }
    return rows;
}

QString ConversionSettings::value(int row) const {
    return row >= 1 && row <= rowCount() ? m_rows[row - 1].value : QString();
}

void ConversionSettings::cmbOF_Click(int index) {
    const std::optional<OutputFormat> format = formatAt(index);
    m_format = format;
    if (!format) {
        return;
    }
    beginResetModel();
    m_rows = defaultRows(*format);
    m_selected = 0;
    endResetModel();
}

ConversionSettings::Editor ConversionSettings::editorFor(int row) const {
    const QString v = value(row);
    return v == Yes || v == No ? Editor::YesNo : Editor::Text;
}

ConversionSettings::Editor ConversionSettings::LV2_Click(int row) {
    m_selected = row >= 1 && row <= rowCount() ? row : 0;
    return editorFor(m_selected);
}

void ConversionSettings::setValue(int row, const QString& value) {
    if (row < 1 || row > rowCount() || m_rows[row - 1].value == value) {
        return;
    }
    m_rows[row - 1].value = value;
    const QModelIndex cell = index(row - 1, ValueColumn);
    emit dataChanged(cell, cell);
}

QString ConversionSettings::corrected(int row, const QString& text) const {
    if (row < 1 || row > rowCount()) {
        return text;
    }
    if (m_rows[row - 1].label == fpsLabel) {
        if (NumericValue(text) > 10) {
            return QStringLiteral("10");
        }
        return onlyDigits(text) ? text : QStringLiteral("0.5");
    }
    if (!onlyDigits(text)) {
        return row == Row::LastPage ? AllPages : QStringLiteral("1");
    }
    return text;
}

void ConversionSettings::txtValue_Change(const QString& text) {
    setValue(m_selected, corrected(m_selected, text));
}

void ConversionSettings::cmbYesNo_Click(const QString& choice) {
    setValue(m_selected, choice);
}

int ConversionSettings::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rowCount();
}

int ConversionSettings::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant ConversionSettings::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid)) {
        return {};
    }
    const SettingsRow& row = m_rows[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::AccessibleTextRole:
        return index.column() == OptionColumn ? row.label : row.value;
    case EditorRole:
        return index.column() == ValueColumn ? static_cast<int>(editorFor(index.row() + 1))
                                             : QVariant();
    default:
        return {};
    }
}

QVariant ConversionSettings::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
    case OptionColumn:
        return tr("Option");
    case ValueColumn:
        return tr("Value");
    default:
        return {};
    }
}

Qt::ItemFlags ConversionSettings::flags(const QModelIndex& index) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid)) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == ValueColumn) {
        f |= Qt::ItemIsEditable;
    }
    return f;
}

bool ConversionSettings::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || index.column() != ValueColumn ||
        !checkIndex(index, CheckIndexOption::IndexIsValid)) {
        return false;
    }
    const int row = index.row() + 1;
    const QString text = value.toString();
    const bool choice = editorFor(row) == Editor::YesNo && (text == Yes || text == No);
    setValue(row, choice ? text : corrected(row, text));
    return true;
}

} // namespace convert
