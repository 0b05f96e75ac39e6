#include "conversion_queue.h"

namespace convert {

QString ConversionQueue::formatCell(const QString& path) {
    return path.trimmed().right(3).toUpper();
}

void ConversionQueue::append(const QString& path) {
    m_paths.append(path);
    m_formats.append(formatCell(path));
    emit appended(count() - 1);
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
    m_paths.removeAt(index);
    m_formats.removeAt(index);
    emit removed(index);
}

void ConversionQueue::clear() {
    m_paths.clear();
    m_formats.clear();
    emit cleared();
}

} // namespace convert
