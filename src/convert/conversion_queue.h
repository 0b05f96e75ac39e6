#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

namespace convert {

/// The files waiting for a conversion run: their paths (the hidden list) and the rows of the
/// visible list with the "Format" cell, kept parallel. The run takes and removes the head;
/// entries may be appended at the tail at any time, also during a run.
class ConversionQueue : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    int count() const { return int(m_paths.size()); }
    bool isEmpty() const { return m_paths.isEmpty(); }
    /// The paths, head first (the hidden list).
    const QStringList& paths() const { return m_paths; }
    /// The "Format" cells, parallel to paths().
    const QStringList& formats() const { return m_formats; }
    QString head() const { return m_paths.isEmpty() ? QString() : m_paths.front(); }

    /// Appends one entry; duplicates and paths of any type are accepted.
    void append(const QString& path);
    /// Appends the results of a folder search whose last three characters are "PDF" in any case.
    void appendSearchResults(const QStringList& found);
    /// Removes entry `index` (from 0); an index out of range removes nothing.
    void removeAt(int index);
    void removeHead() { removeAt(0); }
    void clear();

    /// The "Format" cell of a path: its last three characters after trimming, upper-cased.
    static QString formatCell(const QString& path);

signals:
    void appended(int index);
    void removed(int index);
    void cleared();

private:
    QStringList m_paths;
    QStringList m_formats;
};

} // namespace convert
