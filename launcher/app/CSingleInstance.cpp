#include "launcher/app/CSingleInstance.h"

#include <QLocalSocket>

#include "launcher/core/InstanceName.h"
#include "platform/PrivateFolder.h"
#include "platform/User.h"

namespace launcher {
namespace {

constexpr char kActivateRequest[] = "activate\n";
// Nothing longer than the request is ever sent; more is not a launcher.
constexpr qint64 kMaxRequest = 64;

}  // namespace

CSingleInstance::CSingleInstance(const std::string& name, const std::string& runtimeFolder) {
    // Without a private folder there is no safe place for either: the
    // launcher then goes on as if it were alone.
    if (!runtimeFolder.empty() && platform::IsPrivateFolder(runtimeFolder)) {
        const std::string key = InstanceKey(name, platform::CurrentUserId());
        lockPath_ = InstanceLockPath(runtimeFolder, key);
        socketPath_ = InstanceSocketPath(runtimeFolder, key);
    }
    connect(&server_, &QLocalServer::newConnection, this, &CSingleInstance::OnNewConnection);
}

LockResult CSingleInstance::Claim() {
    const LockResult result = lock_.Acquire(lockPath_);
    if (result != LockResult::kAcquired || socketPath_.empty())
        return result;
    // Holding the lock, any socket file left is a dead launcher's.
    const QString path = QString::fromUtf8(socketPath_.c_str());
    QLocalServer::removeServer(path);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    server_.listen(path);  // without it later launchers only show their message
    return result;
}

bool CSingleInstance::AskFirstToActivate(int timeoutMs) const {
    if (socketPath_.empty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(QString::fromUtf8(socketPath_.c_str()));
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(kActivateRequest, sizeof kActivateRequest - 1);
    const bool sent = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeoutMs);
    return sent;
}

void CSingleInstance::OnNewConnection() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kMaxRequest)
                    socket->abort();
                return;
            }
            const QByteArray line = socket->readLine(kMaxRequest);
            socket->disconnectFromServer();
            if (line == kActivateRequest && onActivate_)
                onActivate_();
        });
    }
}

}  // namespace launcher
