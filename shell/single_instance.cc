#include "shell/single_instance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

namespace {
constexpr char kActivateRequest[] = "activate\n";
}

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
  QDir().mkpath(QFileInfo(serverName_).absolutePath());
  if (!lock_.tryLock(0)) return false;
  QLocalServer::removeServer(serverName_);  // a socket file left by a crashed run
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
