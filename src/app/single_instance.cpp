#include "app/single_instance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace sonavel {

namespace {

QString runtimeFile(const QString& name) {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)).filePath(name);
}

// The running instance may have taken the lock an instant ago and not be listening yet.
constexpr int kHandOverMs = 5000;

}  // namespace

SingleInstance::SingleInstance(QObject* parent)
    : QObject(parent),
      lockPath_(runtimeFile(QStringLiteral("sonavel.lock"))),
      serverPath_(runtimeFile(QStringLiteral("sonavel.socket"))),
      lock_(lockPath_) {
    // Only a lock whose process is gone is stale, never one that is merely old: the running
    // instance holds it for as long as it runs.
    lock_.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::claim() {
    if (!lock_.tryLock(0)) {
        return lock_.error() != QLockFile::LockFailedError;
    }
    // A socket file left by a crashed instance would keep the server from listening.
    QLocalServer::removeServer(serverPath_);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(serverPath_)) {
        qWarning("Cannot listen for later launches: %s", qPrintable(server_->errorString()));
        return true;
    }
    // Every connection is a later launch asking for the window; one byte answers it.
    connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            socket->write("1");
            socket->disconnectFromServer();
            emit activationRequested();
        }
    });
    return true;
}

bool SingleInstance::handOver() {
    const QDeadlineTimer deadline(kHandOverMs);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(serverPath_);
        if (socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
            return socket.bytesAvailable() > 0 ||
                   socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
        }
        QThread::msleep(100);
    }
    return false;
}

}  // namespace sonavel
