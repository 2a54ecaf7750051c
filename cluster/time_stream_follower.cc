#include "cluster/time_stream_follower.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "core/open_regular_file.h"
#include "storage/storage_paths.h"

namespace {

constexpr auto kListInterval = std::chrono::milliseconds(200);

bool IsDayFileName(const std::string& name) {
  if (name.size() != 12 || name.substr(8) != ".csv") return false;
  return std::all_of(name.begin(), name.begin() + 8, [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

TimeStreamFollower::TimeStreamFollower(std::string workdir) : workdir_(std::move(workdir)) {}

void TimeStreamFollower::Start(const FollowPosition& from, const std::string& firstDay) {
  position_ = from;
  firstDay_ = firstDay;
}

void TimeStreamFollower::Rewind(const FollowPosition& position) { position_ = position; }

bool TimeStreamFollower::TailMatches(int fd) const {
  const std::string& tail = position_.tail;
  if (tail.empty() || tail.size() > position_.offset) return true;
  std::string now(tail.size(), '\0');
  const ssize_t n = ::pread(fd, now.data(), now.size(), static_cast<off_t>(position_.offset - tail.size()));
  return n == static_cast<ssize_t>(now.size()) && now == tail;
}

std::string TimeStreamFollower::DayPath(const std::string& day) const {
  return workdir_ + "/" + kTimeStreamDirectory + "/" + day + ".csv";
}

std::vector<std::string> TimeStreamFollower::StoredDays() {
  const auto now = std::chrono::steady_clock::now();
  if (now - daysListedAt_ < kListInterval) return days_;
  daysListedAt_ = now;
  days_.clear();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(workdir_ + "/" + kTimeStreamDirectory, ec)) {
    const std::string name = entry.path().filename().string();
    if (IsDayFileName(name)) days_.push_back(name.substr(0, 8));
  }
  std::sort(days_.begin(), days_.end());
  return days_;
}

std::string TimeStreamFollower::DayAfter(const std::string& day) {
  for (const std::string& d : StoredDays()) {
    if (d > day) return d;
  }
  return {};
}

bool TimeStreamFollower::Next(std::size_t maxBytes, Batch* out) {
  out->lines.clear();
  out->bytes.clear();
  if (position_.day.empty()) {
    const std::vector<std::string> days = StoredDays();
    if (days.empty()) return false;
    std::string day = firstDay_.empty() ? days.back() : std::string();
    for (const std::string& d : days) {
      if (day.empty() && d >= firstDay_) day = d;
    }
    if (day.empty()) return false;
    position_ = FollowPosition{day, 0, 0, 0, {}};
  }
  ReturnToAGrownDay();
  out->start = position_;
  // Listed before the read: once a later day exists the collector has usually finished this one; if
  // it writes to it again (its clock stepped back), ReturnToAGrownDay comes back for those lines.
  const std::string nextDay = DayAfter(position_.day);

  std::string bytes;
  int openError = 0;
  const int fd = OpenRegularFile(DayPath(position_.day).c_str(), O_RDONLY, 0, &openError);
  if (fd < 0 && openError != ENOENT && refusedDay_ != position_.day) {
    // A pipe, a device or a link in the file's place is never read (nor waited on); said once a day.
    refusedDay_ = position_.day;
    ++counters_.filesRefused;
    lastFault_ = DayPath(position_.day) + ": " + OpenErrorText(openError);
  }
  if (fd >= 0) {
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
      const bool seen = position_.inode != 0 || position_.device != 0;
      if (seen && (st.st_ino != position_.inode || st.st_dev != position_.device)) {
        ++counters_.filesReplaced;
        position_.offset = 0;
        position_.tail.clear();
        position_.insideLongLine = false;
      } else if (static_cast<std::uint64_t>(st.st_size) < position_.offset || !TailMatches(fd)) {
        ++counters_.filesTruncated;
        position_.offset = 0;
        position_.tail.clear();
        position_.insideLongLine = false;
      }
      position_.inode = st.st_ino;
      position_.device = st.st_dev;
      const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
      const std::size_t want = static_cast<std::size_t>(
          std::min<std::uint64_t>(size - position_.offset, std::max(maxBytes, StoredTickLine::kMaxLineSize + 2)));
      bytes.resize(want);
      const ssize_t n = ::pread(fd, bytes.data(), want, static_cast<off_t>(position_.offset));
      bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    ::close(fd);
  }
  out->start = position_;

  out->bytes = std::move(bytes);
  const std::size_t consumed = Consume(out->bytes, out);
  if (!(out->end == out->start)) return true;
  if (nextDay.empty()) return false;
  // Nothing more will come to this day: a partial line left at its end was cut off for good.
  if (consumed < out->bytes.size()) {
    ++counters_.malformedLines;
    lastFault_ = "partial line at the end of day " + position_.day;
    // Left behind for good: should the day grow again, the follower comes back after it.
    position_.offset += out->bytes.size() - consumed;
    position_.tail += out->bytes.substr(consumed);
    if (position_.tail.size() > FollowPosition::kTailSize) {
      position_.tail.erase(0, position_.tail.size() - FollowPosition::kTailSize);
    }
  }
  ++counters_.daysFinished;
  Remember(position_);
  // A day left earlier for a grown one goes on where it was.
  const auto resumed = finished_.find(nextDay);
  position_ = resumed != finished_.end() ? resumed->second : FollowPosition{nextDay, 0, 0, 0, {}};
  if (resumed != finished_.end()) finished_.erase(resumed);
  out->end = position_;
  return true;
}

void TimeStreamFollower::Remember(const FollowPosition& position) {
  finished_[position.day] = position;
  while (finished_.size() > kMaxFinishedDays) finished_.erase(finished_.begin());
}

std::uint64_t TimeStreamFollower::GrownBytes(const FollowPosition& position) const {
  struct stat st {};
  if (::lstat(DayPath(position.day).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  const auto size = static_cast<std::uint64_t>(st.st_size);
  return size > position.offset ? size - position.offset : 0;
}

void TimeStreamFollower::ReturnToAGrownDay() {
  for (auto it = finished_.begin(); it != finished_.end(); ++it) {
    if (it->first >= position_.day || GrownBytes(it->second) == 0) continue;
    const FollowPosition earlier = it->second;
    finished_.erase(it);
    Remember(position_);
    position_ = earlier;
    ++counters_.daysResumed;
    return;
  }
}

std::uint64_t TimeStreamFollower::FinishedDaysBacklog() const {
  std::uint64_t bytes = 0;
  for (const auto& [day, position] : finished_) {
    if (day < position_.day) bytes += GrownBytes(position);
  }
  return bytes;
}

std::size_t TimeStreamFollower::Consume(const std::string& bytes, Batch* out) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t lf = bytes.find('\n', at);
    if (position_.insideLongLine) {
      at = lf == std::string::npos ? bytes.size() : lf + 1;
      if (lf != std::string::npos) position_.insideLongLine = false;
      continue;
    }
    if (lf == std::string::npos) {
      if (bytes.size() - at > StoredTickLine::kMaxLineSize) {
        ++counters_.malformedLines;
        lastFault_ = "line too long";
        position_.insideLongLine = true;
        at = bytes.size();
      }
      break;
    }
    StoredTickLine line;
    std::string why;
    if (ParseStoredTickLine(std::string_view(bytes).substr(at, lf + 1 - at), &line, &why)) {
      out->lines.push_back(line);
    } else {
      ++counters_.malformedLines;
      lastFault_ = why;
    }
    at = lf + 1;
  }
  position_.offset += at;
  if (at >= FollowPosition::kTailSize) {
    position_.tail = bytes.substr(at - FollowPosition::kTailSize, FollowPosition::kTailSize);
  } else {
    position_.tail += bytes.substr(0, at);
    if (position_.tail.size() > FollowPosition::kTailSize) {
      position_.tail.erase(0, position_.tail.size() - FollowPosition::kTailSize);
    }
  }
  out->end = position_;
  return at;
}
