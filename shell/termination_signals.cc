#include "shell/termination_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {

// Written by the handler, read by the user-interface thread; -1 while no instance exists.
volatile sig_atomic_t writeEnd = -1;
int readEnd = -1;
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void OnSignal(int number) {
  const unsigned char byte = static_cast<unsigned char>(number);
  if (writeEnd >= 0) (void)!write(writeEnd, &byte, 1);  // async-signal-safe; a full pipe drops it
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
  int fds[2];
  if (readEnd >= 0 || socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) return;
  readEnd = fds[0];
  writeEnd = fds[1];
  notifier_ = new QSocketNotifier(readEnd, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::OnReadable);
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : kSignals) sigaction(number, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
  if (notifier_ == nullptr) return;
  for (int number : kSignals) signal(number, SIG_DFL);
  const int write = writeEnd;
  writeEnd = -1;
  close(write);
  close(readEnd);
  readEnd = -1;
}

void TerminationSignals::OnReadable() {
  unsigned char byte = 0;
  while (read(readEnd, &byte, 1) == 1) emit terminationRequested(byte);
}
