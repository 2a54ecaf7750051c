#ifndef QUOTELOOM_SHELL_FILE_ROW_REGISTRY_H
#define QUOTELOOM_SHELL_FILE_ROW_REGISTRY_H

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/tick_report_receiver.h"
#include "shell/row_report.h"

// The file row registry and the hand-over of tick reports to the window. OnTickReport runs on the
// tick writer thread, which alone owns the registry; it only appends to a pending list and, when
// that list was empty, wakes the window once. The window takes the whole list on its own thread,
// so the writer never waits for the window and every report reaches its row in order.
class FileRowRegistry : public TickReportReceiver {
 public:
  using WakeFn = std::function<void()>;

  void OnTickReport(const char* fileName, const char* lastPrice, const char* openInterest,
                    const char* localTime, const char* tradingDay) override;

  // Set on the user-interface thread; called with the pending lock held, so it must only post.
  void SetWake(WakeFn wake);
  // User-interface thread: every report not yet taken, oldest first.
  std::vector<RowReport> TakePending();

 private:
  struct Entry {
    int row;
    int writeCount;
  };

  bool HasFileRow(const std::string& fileName) const { return rows_.count(fileName) != 0; }
  int AddFileRow(const std::string& fileName);
  Entry TakeWriteCount(const std::string& fileName);

  // Tick writer thread only.
  std::map<std::string, Entry> rows_;
  int rowCounter_ = -1;

  std::mutex pendingMutex_;
  // Guarded by pendingMutex_.
  std::vector<RowReport> pending_;
  WakeFn wake_;
};

#endif
