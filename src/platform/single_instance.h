#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

namespace platform {

/// Keeps one running instance per user for `key`: a lock file in the user's runtime folder
/// decides, and a local socket lets a second start ask the first to come forward.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString& key, QObject* parent = nullptr);
    ~SingleInstance() override;

    /// True when this process is the only instance (it then holds the lock until destroyed).
    /// False when another instance runs; that one is told to come forward.
    bool acquire();

signals:
    /// Another start of the program asked this instance to show itself.
    void activationRequested();

private:
    QString m_key;
    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
};

} // namespace platform
