#ifndef QUOTELOOM_SHELL_SINGLE_INSTANCE_H
#define QUOTELOOM_SHELL_SINGLE_INSTANCE_H

#include <QLockFile>
#include <QObject>
#include <QString>

class QLocalServer;

// One running program per user: a lock file in the runtime directory, and a local server through
// which a second start asks the first to bring its window back. User-interface thread only.
class SingleInstance : public QObject {
  Q_OBJECT

 public:
  // `name` is the application title; the lock and the socket are `<runtimeDir>/<name>[.lock]`.
  SingleInstance(const QString& runtimeDir, const QString& name, QObject* parent = nullptr);
  ~SingleInstance() override;

  // True when this process may run: it holds the lock, or the lock cannot be made at all (see
  // lockProblem()); false only when another instance holds it.
  bool Acquire();
  // Why the lock could not be made, empty when it was taken or is held by another instance.
  QString lockProblem() const { return lockProblem_; }
  // Second instance: asks the first to show itself; returns whether the request was delivered.
  bool ActivateFirstInstance(int timeoutMs = 2000);

  QString serverName() const { return serverName_; }

 signals:
  // A second start asked for the window.
  void activationRequested();

 private:
  void OnNewConnection();

  QString serverName_;
  QString lockProblem_;
  QLockFile lock_;
  QLocalServer* server_ = nullptr;
};

#endif
