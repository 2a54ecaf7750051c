#ifndef QUOTELOOM_REPLAY_SERVICE_STORED_TICK_READER_H
#define QUOTELOOM_REPLAY_SERVICE_STORED_TICK_READER_H

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// Reads one stored tick file line by line. Opening never blocks, whatever sits at the path (a named
// pipe or a device is refused, not waited for), and a line holds at most kMaxLineBytes; the rest of
// a longer line is skipped. One thread; the caller holds the file lock around each reading call.
class StoredTickReader {
 public:
  enum class OpenResult { Ok, Missing, Unreadable };

  static constexpr std::size_t kMaxLineBytes = 64 * 1024;

  StoredTickReader() = default;
  ~StoredTickReader();
  StoredTickReader(const StoredTickReader&) = delete;
  StoredTickReader& operator=(const StoredTickReader&) = delete;

  // Missing: nothing at the path. Unreadable: something that cannot be opened or is no regular file.
  OpenResult Open(const std::string& path);
  // Back to the first line; false when no file is open.
  bool Rewind();
  // The next line without its line break (\n or \r\n); false at the end of the file.
  bool Next(std::string_view* line);

 private:
  std::FILE* file_ = nullptr;
  std::vector<char> buffer_;
};

#endif
