#include "plotmire/send_path_to_chart.h"

#include <QByteArray>
#include <QLocalSocket>
#include <QThread>

namespace {

constexpr int kSocketTimeoutMs = 1000;

bool Deliver(const QString& server_name, const QByteArray& message) {
  QLocalSocket socket;
  socket.connectToServer(server_name, QIODevice::WriteOnly);
  if (!socket.waitForConnected(kSocketTimeoutMs)) return false;
  qint64 written = socket.write(message);
  bool ok = written == message.size();
  while (ok && socket.bytesToWrite() > 0) ok = socket.waitForBytesWritten(kSocketTimeoutMs);
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(kSocketTimeoutMs);
  return ok;
}

}  // namespace

bool SendPathToChart(std::string_view path, const ChartLinkOptions& options) {
  QThread::msleep(options.first_wait_ms);
  // The path is copied as C text into a 31-byte buffer: it ends at a NUL and keeps 30 bytes.
  path = path.substr(0, path.find('\0'));
  path = path.substr(0, kMaxChartPathLength);
  QByteArray message(path.data(), static_cast<qsizetype>(path.size()));
  message.append('\0');
  for (int attempt = 1; attempt <= options.attempts; ++attempt) {
    QThread::msleep(options.attempt_wait_ms);
    if (options.on_attempt) options.on_attempt(attempt);
    if (Deliver(options.server_name, message)) return true;
  }
  return false;
}
