#include "console/TSingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>

#include <cstdlib>

#include "platform/KnownFolders.h"

namespace console {

namespace {

constexpr int kSendTimeoutMs = 2000;

}  // namespace

std::string TSingleInstance::DefaultFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0') return std::string(runtime) + "/Quindle";
    return platform::LogFolder();
}

TSingleInstance::TSingleInstance(std::string folder) : m_strFolder(std::move(folder)) {}

TSingleInstance::~TSingleInstance() {
    if (m_pServer != nullptr) m_pServer->close();
    if (m_nLockFd >= 0) close(m_nLockFd);
}

bool TSingleInstance::Acquire() {
    if (!platform::EnsureFolder(m_strFolder)) return true;
    m_nLockFd = open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_nLockFd < 0) return true;
    if (flock(m_nLockFd, LOCK_EX | LOCK_NB) == 0) return true;
    close(m_nLockFd);
    m_nLockFd = -1;
    return false;
}

bool TSingleInstance::Listen(OnMessage onMessage) {
    m_onMessage = std::move(onMessage);
    m_pServer = new QLocalServer(this);
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    // Holding the lock means any socket file left there belongs to a console
    // that has died.
    QLocalServer::removeServer(QString::fromStdString(SocketPath()));
    if (!m_pServer->listen(QString::fromStdString(SocketPath()))) return false;
    connect(m_pServer, &QLocalServer::newConnection, this, &TSingleInstance::ReadMessages);
    return true;
}

void TSingleInstance::ReadMessages() {
    while (QLocalSocket* peer = m_pServer->nextPendingConnection()) {
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
            // One message per line: "<code> <argument>".
            while (peer->canReadLine()) {
                const QList<QByteArray> fields = peer->readLine().trimmed().split(' ');
                bool codeOk = false, argumentOk = false;
                const int code = fields.value(0).toInt(&codeOk);
                const qlonglong argument = fields.value(1).toLongLong(&argumentOk);
                if (fields.size() == 2 && codeOk && argumentOk && m_onMessage) m_onMessage(code, argument);
            }
        });
    }
}

bool TSingleInstance::Notify(int code, int64_t argument) const {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(SocketPath()));
    if (!socket.waitForConnected(kSendTimeoutMs)) return false;
    socket.write(QByteArray::number(code) + ' ' + QByteArray::number(static_cast<qlonglong>(argument)) + '\n');
    const bool sent = socket.waitForBytesWritten(kSendTimeoutMs);
    socket.disconnectFromServer();
    return sent;
}

}  // namespace console
