#pragma once

#include <QAbstractListModel>
#include <QStringList>
#include <QUrl>

namespace images2pdf {

/// The image list of the image window: full paths in the order they were added, which is the
/// page order of the PDF. Unsorted, duplicates allowed, nothing checked on disk. The window
/// keeps the selection; the operations that move an entry return the position to select.
class ImageList : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    /// The path (display and tool tip: the full path; the accessible text too).
    QVariant data(const QModelIndex& index, int role) const override;

    const QStringList& paths() const { return m_paths; }
    int count() const { return int(m_paths.size()); }
    bool isEmpty() const { return m_paths.isEmpty(); }

    /// Appends `path` unless it is empty.
    void add(const QString& path);
    /// Appends the paths of `paths`, in order.
    void addAll(const QStringList& paths);
    /// Appends, in their order, the local files of a drop whose names end in an image ending
    /// (see platform::isImageName: only the trailing letters count, so "photojpg" is taken);
    /// others are ignored. A dropped folder is not searched. Returns how many were taken.
    int addDropped(const QList<QUrl>& urls);
    /// Removes the entry at `row`; a row outside the list removes nothing. The position to
    /// select afterwards (the same row, or the new last one; -1 when empty).
    int remove(int row);
    /// Removes every entry.
    void clear();
    /// Exchanges entry `row` with the next one; the new position of the moved entry, or `row`
    /// when it cannot move (the last entry, nothing selected).
    int moveDown(int row);
    /// Exchanges entry `row` with the previous one; as moveDown.
    int moveUp(int row);

private:
    QStringList m_paths;
};

} // namespace images2pdf
