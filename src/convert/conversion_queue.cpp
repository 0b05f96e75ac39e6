#include "conversion_queue.h"

#include "platform/raw_names.h"

namespace convert {

QString ConversionQueue::formatCell(const QString& path) {
    return path.trimmed().right(3).toUpper();
}

QStringList ConversionQueue::paths() const {
    QStringList list;
    for (const Entry& e : m_entries) {
        list.append(e.path);
    }
    return list;
}

QStringList ConversionQueue::formats() const {
    QStringList list;
    for (const Entry& e : m_entries) {
        list.append(e.format);
    }
    return list;
}

int ConversionQueue::indexOfId(quint64 id) const {
    for (int i = 0; i < count(); ++i) {
        if (m_entries[i].id == id) {
            return i;
        }
    }
    return -1;
}

void ConversionQueue::append(const QString& path) {
    beginInsertRows({}, count(), count());
    m_entries.append({++m_lastId, path, formatCell(path)});
    endInsertRows();
}

void ConversionQueue::appendSearchResults(const QStringList& found) {
    for (const QString& path : found) {
        if (path.right(3).toUpper() == QStringLiteral("PDF")) {
            append(path);
        }
    }
}

void ConversionQueue::removeAt(int index) {
    if (index < 0 || index >= count()) {
        return;
    }
    beginRemoveRows({}, index, index);
    m_entries.removeAt(index);
    endRemoveRows();
}

bool ConversionQueue::removeId(quint64 id) {
    const int index = id == 0 ? -1 : indexOfId(id);
    removeAt(index);
    return index >= 0;
}

void ConversionQueue::clear() {
    beginResetModel();
    m_entries.clear();
    endResetModel();
}

int ConversionQueue::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

int ConversionQueue::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant ConversionQueue::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid)) {
        return {};
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::AccessibleTextRole) {
        return {};
    }
    const Entry& e = m_entries[index.row()];
    // A file reached through a link (a name that is not UTF-8) shows where it really is.
    return index.column() == FileNameColumn ? platform::ShownPath(e.path) : e.format;
}

QVariant ConversionQueue::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
    case FileNameColumn:
        return tr("FileName");
    case FormatColumn:
        return tr("Format");
    default:
        return {};
    }
}

} // namespace convert
