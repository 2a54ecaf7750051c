#include "plotmire/tick_file_follower.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <cerrno>
#include <cstring>

#include "core/open_regular_file.h"
#include "plotmire/tick_line_parser.h"

namespace {

constexpr int64_t kReadBlock = 1 << 20;

QString NotAFileText(mode_t mode) {
  if (S_ISDIR(mode)) return QStringLiteral("it is a folder");
  if (S_ISFIFO(mode)) return QStringLiteral("it is a named pipe, not a regular file");
  if (S_ISCHR(mode) || S_ISBLK(mode)) return QStringLiteral("it is a device, not a regular file");
  if (S_ISSOCK(mode)) return QStringLiteral("it is a socket, not a regular file");
  if (S_ISLNK(mode)) return QStringLiteral("it is a symbolic link, not followed");
  return QStringLiteral("it is not a regular file");
}

}  // namespace

namespace {

// The trading day a per-contract file belongs to: the name of its folder, Data/<yyyymmdd>/.
int DayOfPath(const QString& path) {
  const std::string folder = std::filesystem::path(path.toStdString()).parent_path().filename().string();
  if (folder.size() != 8 || folder.find_first_not_of("0123456789") != std::string::npos) return 0;
  return std::stoi(folder);
}

}  // namespace

TickFileFollower::TickFileFollower(QString path, Limits limits)
    : path_(std::move(path)),
      limits_{std::max<int64_t>(limits.max_ticks, 1), std::max<int64_t>(limits.bytes_per_poll, 1)},
      trading_day_(DayOfPath(path_)) {}

// The sessions library's rule on the tick and the collector's write stamp in the first field.
bool TickFileFollower::IsMarket(const ChartTick& tick, std::string_view line) {
  if (!classifier_) classifier_.emplace(FindProductHours(ProductOfContract(tick.contract)), trading_day_);
  const std::string_view stamp = line.substr(0, line.find(','));
  if (classifier_->ClassifyTime(tick.time_of_day, stamp) == TickKind::kSession) return true;
  ++not_market_;
  return false;
}

// The chart drops what it holds when the file is missing or unreadable; so does the follower, and
// the file is read from its start once it is back.
void TickFileFollower::Forget() {
  Reset();
  known_ = false;
}

void TickFileFollower::Reset() {
  offset_ = 0;
  file_size_ = 0;
  partial_.clear();
  partial_overlong_ = false;
  full_ = false;
  ticks_taken_ = 0;
  lines_ = 0;
  malformed_ = 0;
  first_malformed_line_ = 0;
  first_malformed_reason_.clear();
}

TickFileFollower::PollResult TickFileFollower::Poll() {
  PollResult result;
  result.status = Poll(&result.ticks);
  return result;
}

TickFileFollower::Status TickFileFollower::Poll(std::vector<ChartTick>* ticks) {
  const QByteArray name = QFile::encodeName(path_);
  // Never waits on a named pipe and never follows a link; only a regular file is read.
  int error = 0;
  const int fd = OpenRegularFile(name.constData(), O_RDONLY, 0, &error);
  if (fd < 0) {
    struct stat st {};
    if ((error == kNotARegularFile || error == ELOOP) && ::lstat(name.constData(), &st) == 0) {
      return Refuse(NotAFileText(st.st_mode));
    }
    Forget();
    error_text_ = error == ENOENT ? QString() : QString::fromLocal8Bit(OpenErrorText(error).c_str());
    return error == ENOENT ? Status::kMissing : Status::kUnreadable;
  }
  const Status status = Read(fd, ticks);
  ::close(fd);
  return status;
}

TickFileFollower::Status TickFileFollower::Read(int fd, std::vector<ChartTick>* out) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return Refuse(QString::fromLocal8Bit(std::strerror(errno)));
  if (!S_ISREG(st.st_mode)) return Refuse(NotAFileText(st.st_mode));
  error_text_.clear();
  Status status = Status::kRead;
  // Another file under the same name (a copy, an editor's save) or a shorter one: start again.
  const bool replaced = known_ && (st.st_dev != device_ || st.st_ino != inode_);
  if (replaced || st.st_size < offset_) {
    Reset();
    status = Status::kRestarted;
  }
  known_ = true;
  device_ = st.st_dev;
  inode_ = st.st_ino;
  const int64_t size = st.st_size;
  file_size_ = size;
  // One bounded step per poll; the caller polls again soon while unread() is not 0.
  int64_t budget = limits_.bytes_per_poll;
  while (offset_ < size && budget > 0 && !full_) {
    block_.resize(static_cast<size_t>(std::min({kReadBlock, size - offset_, budget})));
    const ssize_t got = ::pread(fd, block_.data(), block_.size(), offset_);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Refuse(QString::fromLocal8Bit(std::strerror(errno)));
    if (got == 0) break;
    budget -= got;
    offset_ += TakeLines(block_.data(), got, out);
  }
  return status;
}

TickFileFollower::Status TickFileFollower::Refuse(const QString& reason) {
  Forget();
  error_text_ = reason;
  return Status::kUnreadable;
}

// Returns the bytes used: all of them, unless the tick limit was reached on the way.
int64_t TickFileFollower::TakeLines(const char* data, int64_t size, std::vector<ChartTick>* out) {
  std::string_view rest(data, static_cast<size_t>(size));
  while (!rest.empty() && !full_) {
    const size_t newline = rest.find('\n');
    if (newline == std::string_view::npos) {
      if (partial_overlong_ || partial_.size() + rest.size() > kMaxLineLength) {
        // No tick line is this long: forget its bytes, count it once its end arrives.
        partial_overlong_ = true;
        partial_.clear();
      } else {
        partial_.append(rest);
      }
      return size;
    }
    std::string_view line = rest.substr(0, newline);
    rest.remove_prefix(newline + 1);
    if (partial_overlong_) {
      partial_overlong_ = false;
      TakeLine(std::string_view(), out, "line too long");
    } else if (partial_.empty()) {
      TakeLine(line, out);
    } else if (partial_.size() + line.size() > kMaxLineLength) {
      partial_.clear();
      TakeLine(std::string_view(), out, "line too long");
    } else {
      partial_.append(line);
      TakeLine(partial_, out);
      partial_.clear();
    }
  }
  return size - static_cast<int64_t>(rest.size());
}

void TickFileFollower::TakeLine(std::string_view line, std::vector<ChartTick>* out,
                                const char* known_fault) {
  ++lines_;
  std::string reason;
  if (known_fault != nullptr) {
    reason = known_fault;
  } else if (line.empty() || line == "\r") {
    return;  // a blank line carries nothing and harms nothing
  } else if (line.size() > kMaxLineLength) {
    reason = "line too long";
  } else {
    ChartTick tick;
    if (ParseTickLine(line, &tick, &reason)) {
      if (!IsMarket(tick, line)) return;
      // A tick beyond the limit is not taken, and nothing after it is read.
      full_ = ticks_taken_ >= limits_.max_ticks;
      if (!full_) {
        out->push_back(std::move(tick));
        ++ticks_taken_;
      }
      return;
    }
    // A counter's test data ("99:99:99") is a line of the file, just not the market's.
    if (tick.time_of_day < 0) {
      ++not_market_;
      return;
    }
  }
  ++malformed_;
  if (first_malformed_line_ == 0) {
    first_malformed_line_ = lines_;
    first_malformed_reason_ = reason;
  }
}
