#include "plotmire/path_receiver.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QVariant>

namespace {

// A path is at most 30 bytes; a sender that goes far beyond or stays silent is cut off.
constexpr qsizetype kMaxMessage = 4096;
constexpr int kConnectionTimeoutMs = 5000;
constexpr int kProbeTimeoutMs = 300;
const char kBufferProperty[] = "plotmireBuffer";

}  // namespace

PathReceiver::PathReceiver(QString server_name, QObject* parent)
    : QObject(parent), server_name_(std::move(server_name)), server_(new QLocalServer(this)) {
  connect(server_, &QLocalServer::newConnection, this, &PathReceiver::Accept);
}

PathReceiver::ListenResult PathReceiver::Listen() {
  QLocalSocket probe;
  probe.connectToServer(server_name_);
  if (probe.waitForConnected(kProbeTimeoutMs)) {
    probe.disconnectFromServer();
    error_text_ = QStringLiteral("another chart program listens on \"%1\"").arg(server_name_);
    return ListenResult::kOtherInstance;
  }
  QLocalServer::removeServer(server_name_);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(server_name_)) {
    error_text_ = server_->errorString();
    return ListenResult::kFailed;
  }
  return ListenResult::kListening;
}

void PathReceiver::Accept() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
    connect(socket, &QLocalSocket::disconnected, this, [this, socket] { Finish(socket); });
    QTimer::singleShot(kConnectionTimeoutMs, socket, [this, socket] { Drop(socket); });
    Read(socket);
  }
}

void PathReceiver::Read(QLocalSocket* socket) {
  QByteArray buffer = socket->property(kBufferProperty).toByteArray() + socket->readAll();
  const qsizetype nul = buffer.indexOf('\0');
  if (nul >= 0) {
    Drop(socket);
    emit pathReceived(QString::fromUtf8(buffer.left(nul)));
  } else if (buffer.size() > kMaxMessage) {
    Drop(socket);
  } else {
    socket->setProperty(kBufferProperty, buffer);
  }
}

void PathReceiver::Drop(QLocalSocket* socket) {
  socket->disconnect(this);
  socket->abort();
  socket->deleteLater();
}

// The sender closed without a NUL: what it sent is taken as the path, nothing at all is ignored.
void PathReceiver::Finish(QLocalSocket* socket) {
  const QByteArray buffer = socket->property(kBufferProperty).toByteArray() + socket->readAll();
  socket->disconnect(this);
  socket->deleteLater();
  if (!buffer.isEmpty()) emit pathReceived(QString::fromUtf8(buffer));
}
