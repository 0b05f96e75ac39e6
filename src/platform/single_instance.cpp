#include "single_instance.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

namespace platform {
namespace {

QString runtimeFolder() {
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QFileInfo(folder).isWritable()) {
        folder = QDir::tempPath() + QStringLiteral("/lumadoc-runtime-") + QString::number(getuid());
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    return folder;
}

} // namespace

SingleInstance::SingleInstance(const QString& key, QObject* parent)
    : QObject(parent), m_key(key), m_folder(runtimeFolder()) {
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromServer();
            emit activationRequested();
        }
    });
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire() {
    const QString base = m_folder + QLatin1Char('/') + m_key;
    m_lock = std::make_unique<QLockFile>(base + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        QLocalSocket socket;
        socket.connectToServer(base + QStringLiteral(".socket"));
        socket.waitForConnected(500);
        socket.disconnectFromServer();
        m_lock.reset();
        return false;
    }
    // A socket left by a crashed instance would block listen().
    QLocalServer::removeServer(base + QStringLiteral(".socket"));
    m_server.listen(base + QStringLiteral(".socket"));
    return true;
}

} // namespace platform
