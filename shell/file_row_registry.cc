#include "shell/file_row_registry.h"

void FileRowRegistry::OnTickReport(const char* fileName, const char* lastPrice,
                                   const char* openInterest, const char* localTime,
                                   const char* tradingDay) {
  const std::string name = fileName != nullptr ? fileName : "";
  if (name.empty()) return;  // a record without a contract code gets no row
  RowReport report;
  if (!HasFileRow(name)) {
    rows_[name] = Entry{AddFileRow(name), 1};
    report.added = true;
  }
  const Entry entry = TakeWriteCount(name);
  report.row = entry.row;
  report.writeCount = entry.writeCount;
  report.fileName = QString::fromStdString(name);
  report.lastPrice = QString::fromUtf8(lastPrice);
  report.openInterest = QString::fromUtf8(openInterest);
  report.localTime = QString::fromUtf8(localTime);
  report.tradingDay = QString::fromUtf8(tradingDay);

  std::lock_guard<std::mutex> lock(pendingMutex_);
  pending_.push_back(std::move(report));
  if (pending_.size() == 1 && wake_) wake_();
}

int FileRowRegistry::AddFileRow(const std::string& fileName) {
  if (fileName.empty()) return rowCounter_;
  return ++rowCounter_;
}

FileRowRegistry::Entry FileRowRegistry::TakeWriteCount(const std::string& fileName) {
  Entry& entry = rows_[fileName];
  const Entry taken = entry;
  ++entry.writeCount;
  return taken;
}

void FileRowRegistry::SetWake(WakeFn wake) {
  std::lock_guard<std::mutex> lock(pendingMutex_);
  wake_ = std::move(wake);
  if (!pending_.empty() && wake_) wake_();
}

std::vector<RowReport> FileRowRegistry::TakePending() {
  std::vector<RowReport> taken;
  std::lock_guard<std::mutex> lock(pendingMutex_);
  taken.swap(pending_);
  return taken;
}
