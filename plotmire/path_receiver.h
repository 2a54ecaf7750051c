#ifndef QUOTELOOM_PLOTMIRE_PATH_RECEIVER_H
#define QUOTELOOM_PLOTMIRE_PATH_RECEIVER_H

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// Lives on the GUI thread. Listens on the chart program's local server; every connection carries
// one path, whose bytes end with a NUL (or with the close of the connection), and is then closed.
class PathReceiver : public QObject {
  Q_OBJECT

 public:
  enum class ListenResult {
    kListening,
    kOtherInstance,  // a live chart program already listens under the name
    kFailed,
  };

  explicit PathReceiver(QString server_name, QObject* parent = nullptr);

  // Removes the socket a crashed program may have left behind, unless a live one answers on it.
  ListenResult Listen();
  QString error_text() const { return error_text_; }
  const QString& server_name() const { return server_name_; }

 signals:
  void pathReceived(const QString& path);

 private:
  void Accept();
  void Read(QLocalSocket* socket);
  void Finish(QLocalSocket* socket);
  void Drop(QLocalSocket* socket);

  const QString server_name_;
  QLocalServer* server_;
  QString error_text_;
};

#endif
