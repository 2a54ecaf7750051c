#include "tools/data/replayable_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "core/open_regular_file.h"
#include "tools/data/collected_line.h"
#include "tools/data/day_files.h"
#include "tools/data/line_block_reader.h"
#include "tools/data/replay_line.h"

namespace fs = std::filesystem;

namespace {

// Buffers output and writes it in big blocks; remembers the first error.
class BlockWriter {
 public:
  explicit BlockWriter(int fd) : fd_(fd) { buffer_.reserve(kFlushAt + 8192); }
  void Append(std::string_view bytes) {
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    if (buffer_.size() >= kFlushAt) Flush();
  }
  bool Flush() {
    std::size_t done = 0;
    while (ok_ && done < buffer_.size()) {
      const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error_ = std::strerror(n < 0 ? errno : EIO);
        ok_ = false;
      } else {
        done += static_cast<std::size_t>(n);
      }
    }
    buffer_.clear();
    return ok_;
  }
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

 private:
  static constexpr std::size_t kFlushAt = 1 << 20;
  int fd_;
  std::vector<char> buffer_;
  bool ok_ = true;
  std::string error_;
};

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

struct ClosedOnExit {
  int fd;
  ~ClosedOnExit() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

fs::path ReplayableWriter::TargetPath(const fs::path& workdir, int day, const std::string& contract) {
  return workdir / TickFolder(day) / (contract + ".csv");
}

std::string ReplayableWriter::TickFolder(int day) { return "Data/" + std::to_string(day) + "/Tick"; }

ReplayableWriter::Result ReplayableWriter::Write(const fs::path& workdir, int day, const std::string& contract,
                                                 int stableAgeSeconds, const Selection& selection) {
  Result result;
  const fs::path source = DayFolder(workdir, day) / (contract + ".csv");
  const fs::path target = TargetPath(workdir, day, contract);

  struct stat sourceInfo;
  if (::stat(source.c_str(), &sourceInfo) != 0) {
    result.error = source.string() + ": " + std::strerror(errno);
    return result;
  }
  struct stat targetInfo;
  if (::lstat(target.c_str(), &targetInfo) == 0 && S_ISREG(targetInfo.st_mode) &&
      SameTime(targetInfo.st_mtim, sourceInfo.st_mtim)) {
    result.outcome = Outcome::kUpToDate;
    return result;
  }

  LineBlockReader reader;
  if (!reader.Open(source.string())) {
    result.error = reader.error();
    return result;
  }
  int openError = 0;
  const int root = OpenWorkingFolder(workdir.string(), &openError);
  const ClosedOnExit folder{root == -1 ? -1 : OpenFolderBelow(root, TickFolder(day), true, &openError)};
  CloseWorkingFolder(root);
  if (folder.fd < 0) {
    result.error = target.parent_path().string() + ": " + OpenErrorText(openError);
    return result;
  }
  const std::string temporaryName = "." + contract + ".csv.tmp." + std::to_string(::getpid());
  const fs::path temporary = target.parent_path() / temporaryName;
  const int fd = OpenRegularFileBelow(folder.fd, temporaryName, O_WRONLY | O_CREAT | O_TRUNC, 0644, &openError);
  if (fd < 0) {
    result.error = temporary.string() + ": " + OpenErrorText(openError);
    return result;
  }
  BlockWriter out(fd);
  out.Append(kHeader);
  out.Append("\r\n");
  std::string_view line;
  CollectedLine fields;
  std::string replayLine;
  const TickClassifier classifier(FindProductHours(ProductOfContract(contract)), day, selection.tolerance_seconds);
  while (reader.Next(&line)) {
    if (!SplitCollectedLine(line, &fields)) {
      ++result.malformed;
      continue;
    }
    if (!selection.raw &&
        classifier.Classify(fields.field[kUpdateTime], fields.field[kWriteStamp]) != TickKind::kSession) {
      ++result.not_market;
      continue;
    }
    replayLine.clear();
    AppendReplayLine(fields, &replayLine);
    out.Append(replayLine);
    ++result.lines;
  }
  result.malformed += reader.overlong();
  out.Flush();
  result.partial_tail = reader.consumed() < static_cast<std::uint64_t>(reader.size_at_open());

  // Stamp the copy with the source's time only when the source is finished; otherwise a second
  // before it, so the next run copies it again.
  timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  const timespec sourceTime = reader.mtime_at_open();
  const bool finished = !result.partial_tail && reader.error().empty() &&
                        now.tv_sec - sourceTime.tv_sec >= stableAgeSeconds;
  timespec stamp = sourceTime;
  if (!finished) stamp.tv_sec -= 1;
  const timespec times[2] = {now, stamp};
  const bool stamped = ::futimens(fd, times) == 0;
  const bool closed = ::close(fd) == 0;
  if (!out.ok() || !reader.error().empty() || !stamped || !closed) {
    result.error = temporary.string() + ": " +
                   (!out.ok() ? out.error() : !reader.error().empty() ? reader.error() : std::strerror(errno));
    ::unlinkat(folder.fd, temporaryName.c_str(), 0);
    return result;
  }
  if (::renameat(folder.fd, temporaryName.c_str(), folder.fd, (contract + ".csv").c_str()) != 0) {
    result.error = target.string() + ": " + std::strerror(errno);
    ::unlinkat(folder.fd, temporaryName.c_str(), 0);
    return result;
  }
  result.outcome = Outcome::kWritten;
  return result;
}
