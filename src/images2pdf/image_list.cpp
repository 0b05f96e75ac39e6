#include "image_list.h"

#include "platform/paths.h"
#include "platform/raw_names.h"

#include <QDir>

namespace images2pdf {

int ImageList::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant ImageList::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count()) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole:
        return QDir::toNativeSeparators(platform::ShownPath(m_paths[index.row()]));
    default:
        return {};
    }
}

void ImageList::add(const QString& path) {
    if (!path.isEmpty()) {
        addAll({path});
    }
}

void ImageList::addAll(const QStringList& paths) {
    if (paths.isEmpty()) {
        return;
    }
    beginInsertRows({}, count(), count() + int(paths.size()) - 1);
    m_paths += paths;
    endInsertRows();
}

int ImageList::addDropped(const QList<QUrl>& urls) {
    QStringList taken;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile()) {
            continue;
        }
        QString path = platform::ReachableLocalFile(url);
        // A folder comes with a trailing slash from some file managers; its name is what counts.
        while (path.size() > 1 && path.endsWith(QChar('/'))) {
            path.chop(1);
        }
        if (platform::isImageName(path)) {
            taken += path;
        }
    }
    addAll(taken);
    return int(taken.size());
}

int ImageList::remove(int row) {
    if (row < 0 || row >= count()) {
        return row < count() ? row : count() - 1;
    }
    beginRemoveRows({}, row, row);
    m_paths.removeAt(row);
    endRemoveRows();
    return std::min(row, count() - 1);
}

void ImageList::clear() {
    beginResetModel();
    m_paths.clear();
    endResetModel();
}

int ImageList::moveDown(int row) {
    if (row < 0 || row >= count() - 1) {
        return row;
    }
    beginMoveRows({}, row + 1, row + 1, {}, row);
    m_paths.swapItemsAt(row, row + 1);
    endMoveRows();
    return row + 1;
}

int ImageList::moveUp(int row) {
    if (row <= 0 || row >= count()) {
        return row;
    }
    beginMoveRows({}, row, row, {}, row - 1);
    m_paths.swapItemsAt(row, row - 1);
    endMoveRows();
    return row - 1;
}

} // namespace images2pdf
