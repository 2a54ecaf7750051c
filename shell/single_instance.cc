#include "shell/single_instance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

namespace {

constexpr char kActivateRequest[] = "activate\n";

// QLockFile keeps no errno; the folder tells the usual reasons apart.
QString LockErrorText(const QString& folder) {
  const QFileInfo info(folder);
  if (!info.exists()) return QStringLiteral("文件夹不存在，也无法创建");
  if (!info.isDir()) return QStringLiteral("不是文件夹");
  if (!info.isWritable()) return QStringLiteral("文件夹不可写");
  return QStringLiteral("无法创建锁文件");
}

}  // namespace

SingleInstance::SingleInstance(const QString& runtimeDir, const QString& name, QObject* parent)
    : QObject(parent),
      serverName_(QDir(runtimeDir).filePath(name)),
      lock_(QDir(runtimeDir).filePath(name + QStringLiteral(".lock"))) {
  lock_.setStaleLockTime(0);  // only a lock of a dead process is stale, however long we run
}

SingleInstance::~SingleInstance() {
  if (server_ != nullptr) server_->close();
}

bool SingleInstance::Acquire() {
  const QString folder = QFileInfo(serverName_).absolutePath();
  QDir().mkpath(folder);
  if (!lock_.tryLock(0)) {
    if (lock_.error() == QLockFile::LockFailedError) return false;  // another instance holds it
    // No instance can hold a lock that cannot be made here: run as the only one, and say why.
    lockProblem_ = QStringLiteral("%1：%2").arg(QDir::toNativeSeparators(folder), LockErrorText(folder));
  } else {
    QLocalServer::removeServer(serverName_);  // a socket file left by a crashed run
  }
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server_, &QLocalServer::newConnection, this, &SingleInstance::OnNewConnection);
  // Without the server a second start cannot reach us, but we still are the only instance.
  server_->listen(serverName_);
  return true;
}

bool SingleInstance::ActivateFirstInstance(int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(serverName_);
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write(kActivateRequest);
  const bool written = socket.waitForBytesWritten(timeoutMs);
  socket.disconnectFromServer();
  return written;
}

void SingleInstance::OnNewConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    auto readRequest = [this, socket] {
      if (socket->readAll().contains("activate")) emit activationRequested();
    };
    connect(socket, &QLocalSocket::readyRead, this, readRequest);
    if (socket->bytesAvailable() > 0) readRequest();
  }
}
