#ifndef QUOTELOOM_SHELL_TERMINATION_SIGNALS_H
#define QUOTELOOM_SHELL_TERMINATION_SIGNALS_H

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (a session ending, kill, Ctrl-C) into a signal on the
// user-interface thread, so the program can write every queued tick before it ends.
// One instance per process, created on the user-interface thread.
class TerminationSignals : public QObject {
  Q_OBJECT

 public:
  explicit TerminationSignals(QObject* parent = nullptr);
  ~TerminationSignals() override;

  bool installed() const { return notifier_ != nullptr; }

 signals:
  void terminationRequested(int signalNumber);

 private:
  void OnReadable();

  QSocketNotifier* notifier_ = nullptr;
};

#endif
