#include "app/shell/single_instance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <unistd.h>

#include <algorithm>
#include <utility>

namespace calorim::app {
namespace {

constexpr qint64 kLongestRequest = 64;  // bytes read from one connection, at most
constexpr int kRetryMs = 50;

// Asks the running program to show its panel; true once the request is sent.
bool tellRunning(const QString& socketPath, QDeadlineTimer deadline) {
  // The running program may be between taking the lock and listening.
  while (true) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (socket.waitForConnected(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)))) {
      socket.write(SingleInstance::kShowRequest);
      const bool sent = socket.waitForBytesWritten(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)));
      socket.disconnectFromServer();
      return sent;
    }
    if (deadline.hasExpired()) return false;
    QThread::msleep(kRetryMs);
  }
}

}  // namespace

QString SingleInstance::defaultDirectory() {
  const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (!runtime.isEmpty()) return runtime;
  return QDir(QDir::tempPath()).filePath(QStringLiteral("calorim-%1").arg(::getuid()));
}

SingleInstance::Claim SingleInstance::claim(const QString& directory) {
  if (!QDir().mkpath(directory)) return Failed{QStringLiteral("cannot make the folder %1").arg(directory)};
  const QDir dir(directory);
  const QString socketPath = dir.filePath(QStringLiteral("calorim.socket"));
  auto lock = std::make_unique<QLockFile>(dir.filePath(QStringLiteral("calorim.lock")));
  // The lock is held for the program's life: never stale while it runs.
  lock->setStaleLockTime(0);
  if (!lock->tryLock()) {
    if (lock->error() != QLockFile::LockFailedError) {
      return Failed{QStringLiteral("cannot take the lock %1").arg(dir.filePath(QStringLiteral("calorim.lock")))};
    }
    if (tellRunning(socketPath, QDeadlineTimer(kAnswerMs))) return Told{};
    return Failed{QStringLiteral("another calorim is running but did not answer")};
  }
  // A socket left by a program that died would refuse the listen.
  QLocalServer::removeServer(socketPath);
  auto* server = new QLocalServer;
  server->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server->listen(socketPath)) {
    const QString reason = server->errorString();
    delete server;
    return Failed{QStringLiteral("cannot listen on %1: %2").arg(socketPath, reason)};
  }
  return std::unique_ptr<SingleInstance>(new SingleInstance(std::move(lock), server));
}

SingleInstance::SingleInstance(std::unique_ptr<QLockFile> lock, QLocalServer* server)
    : lock_(std::move(lock)), server_(server) {
  server_->setParent(this);
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
        // Anything but the one request, or more than it, is ignored.
        if (socket->bytesAvailable() > kLongestRequest) {
          socket->abort();
          return;
        }
        if (!socket->canReadLine()) return;
        if (socket->readLine(kLongestRequest) == kShowRequest) emit showRequested();
        socket->disconnectFromServer();
      });
    }
  });
}

SingleInstance::~SingleInstance() {
  server_->close();
}

}  // namespace calorim::app
