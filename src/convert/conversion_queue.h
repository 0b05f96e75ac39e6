#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <QVector>

namespace convert {

/// The files waiting for a conversion run, as a two-column table model ("FileName", "Format"):
/// the path exactly as received and the last three characters of the trimmed path, upper-cased.
/// Entries may be appended at the tail at any time, also during a run, and removed by hand.
/// Each entry has an id that no other entry of the queue ever gets, so that a run can drop the
/// entry it worked on even when rows before it were removed meanwhile.
class ConversionQueue : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { FileNameColumn = 0, FormatColumn = 1 };

    struct Entry {
        quint64 id = 0;
        QString path;
        QString format; ///< the "Format" cell
    };

    using QAbstractTableModel::QAbstractTableModel;

    int count() const { return int(m_entries.size()); }
    bool isEmpty() const { return m_entries.isEmpty(); }
    /// The paths, head first (the hidden list).
    QStringList paths() const;
    /// The "Format" cells, parallel to paths().
    QStringList formats() const;
    const Entry& at(int index) const { return m_entries[index]; }
    /// The first entry; an entry with id 0 when the queue is empty.
    Entry head() const { return m_entries.isEmpty() ? Entry{} : m_entries.front(); }
    /// The position of the entry with `id`, -1 when it is no longer queued.
    int indexOfId(quint64 id) const;

    /// Appends one entry; duplicates and paths of any type are accepted.
    void append(const QString& path);
    /// Appends the results of a folder search whose last three characters are "PDF" in any case.
    void appendSearchResults(const QStringList& found);
    /// Removes entry `index` (from 0); an index out of range removes nothing.
    void removeAt(int index);
    /// Removes the entry with `id`; false when it was removed already.
    bool removeId(quint64 id);
    void clear();

    /// The "Format" cell of a path: its last three characters after trimming, upper-cased.
    static QString formatCell(const QString& path);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QVector<Entry> m_entries;
    quint64 m_lastId = 0;
};

} // namespace convert
