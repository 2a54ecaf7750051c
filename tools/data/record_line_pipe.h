#ifndef QUOTELOOM_TOOLS_DATA_RECORD_LINE_PIPE_H
#define QUOTELOOM_TOOLS_DATA_RECORD_LINE_PIPE_H

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "core/tick_record.h"

// Hands decoded records from the thread that reads a store to a thread of its own that makes
// their lines, in batches and in order, so writing a journal day's lines runs beside reading it.
// Push and Finish from the reading thread; `make` runs on the pipe's thread.
class RecordLinePipe {
 public:
  struct Item {
    void* target = nullptr;        // whose line it is (the caller's)
    TickRecord record;
    char stamp[15] = "";           // yyyymmddHHMMSS of the write
    std::int64_t arrival = -1;     // as SourceTick::arrival
  };
  static constexpr std::size_t kBatch = 2048;
  static constexpr std::size_t kBatchesHeld = 3;

  explicit RecordLinePipe(std::function<void(const Item&)> make);
  ~RecordLinePipe();
  RecordLinePipe(const RecordLinePipe&) = delete;
  RecordLinePipe& operator=(const RecordLinePipe&) = delete;

  // The next item to fill; Push hands it over.
  Item& Next();
  void Push();
  // Hands over what is left and waits until every line is made.
  void Finish();

 private:
  void Run();
  void Send();

  const std::function<void(const Item&)> make_;
  std::vector<Item> filling_;
  std::size_t filled_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_.
  std::deque<std::vector<Item>> batches_;
  std::vector<std::vector<Item>> spare_;
  bool done_ = false;
  std::thread thread_;
};

#endif
