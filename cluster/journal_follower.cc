#include "cluster/journal_follower.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "core/open_regular_file.h"

namespace {

constexpr auto kListInterval = std::chrono::milliseconds(200);
constexpr std::size_t kMaxRefusedDays = 64;

bool IsDayFileName(const std::string& name) {
  if (name.size() != 12 || name.substr(8) != ".qtj") return false;
  return std::all_of(name.begin(), name.begin() + 8, [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

JournalFollower::JournalFollower(std::string workdir) : workdir_(std::move(workdir)) {}

void JournalFollower::Start(const JournalPosition& from, const std::string& firstDay) {
  position_ = from;
  firstDay_ = firstDay;
}

void JournalFollower::Rewind(const JournalPosition& position) { position_ = position; }

std::string JournalFollower::DayPath(const std::string& day) const {
  return workdir_ + "/" + kJournalDirectory + "/" + day + ".qtj";
}

std::vector<std::string> JournalFollower::StoredDays() {
  const auto now = std::chrono::steady_clock::now();
  if (now - daysListedAt_ < kListInterval) return days_;
  daysListedAt_ = now;
  days_.clear();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(workdir_ + "/" + kJournalDirectory, ec)) {
    const std::string name = entry.path().filename().string();
    if (IsDayFileName(name)) days_.push_back(name.substr(0, 8));
  }
  std::sort(days_.begin(), days_.end());
  return days_;
}

std::string JournalFollower::DayAfter(const std::string& day) {
  for (const std::string& d : StoredDays()) {
    if (d > day) return d;
  }
  return {};
}

bool JournalFollower::SequenceMatches(int fd) const {
  if (position_.sequence == 0 || position_.offset < JournalHeaderSize() + kJournalRecordSize) return true;
  unsigned char record[kJournalRecordSize];
  const ssize_t n = ::pread(fd, record, sizeof(record), static_cast<off_t>(position_.offset - kJournalRecordSize));
  JournalEntry entry;
  // A damaged record there cannot be compared: it was skipped when it was read.
  if (n != static_cast<ssize_t>(sizeof(record))) return false;
  return !DecodeJournalRecord(record, &entry) || entry.sequence == position_.sequence;
}

void JournalFollower::Refuse(const std::string& why) {
  if (refusedDays_.count(position_.day) != 0) return;
  if (refusedDays_.size() >= kMaxRefusedDays) refusedDays_.erase(refusedDays_.begin());
  refusedDays_[position_.day] = true;
  ++counters_.filesRefused;
  lastFault_ = DayPath(position_.day) + ": " + why;
}

bool JournalFollower::ReadRecords(int fd, std::size_t maxRecords, Batch* out) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return true;
  const bool seen = position_.inode != 0 || position_.device != 0;
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (seen && (st.st_ino != position_.inode || st.st_dev != position_.device)) {
    ++counters_.filesReplaced;
    position_ = JournalPosition{position_.day};
  } else if (size < position_.offset || !SequenceMatches(fd)) {
    ++counters_.filesTruncated;
    position_ = JournalPosition{position_.day};
  }
  position_.inode = st.st_ino;
  position_.device = st.st_dev;
  if (size < JournalHeaderSize()) return true;  // a journal being started: its header comes next
  if (position_.offset < JournalHeaderSize()) {
    std::string header(JournalHeaderSize(), '\0');
    if (::pread(fd, header.data(), header.size(), 0) != static_cast<ssize_t>(header.size())) return true;
    std::size_t headerSize = 0;
    std::string why;
    if (!CheckJournalHeader(reinterpret_cast<const unsigned char*>(header.data()), header.size(), &headerSize, &why)) {
      Refuse(why);
      return false;
    }
    position_.offset = headerSize;
  }
  const std::uint64_t whole = (size - position_.offset) / kJournalRecordSize;
  const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(whole, std::max<std::size_t>(maxRecords, 1)));
  if (count == 0) return true;
  // One buffer for the follower's life: a fresh one per batch costs page faults and zeroing.
  if (buffer_.size() < count * kJournalRecordSize) buffer_.resize(count * kJournalRecordSize);
  unsigned char* const bytes = buffer_.data();
  const ssize_t n = ::pread(fd, bytes, count * kJournalRecordSize, static_cast<off_t>(position_.offset));
  const std::size_t got = n > 0 ? static_cast<std::size_t>(n) / kJournalRecordSize : 0;
  out->entries.reserve(got);
  for (std::size_t i = 0; i < got; ++i) {
    JournalEntry entry;
    if (DecodeJournalRecord(bytes + i * kJournalRecordSize, &entry)) {
      position_.sequence = entry.sequence;
      out->entries.push_back(entry);
      out->records.push_back(bytes + i * kJournalRecordSize);
    } else {
      ++counters_.damagedRecords;
      lastFault_ = DayPath(position_.day) + ": record at offset " +
                   std::to_string(position_.offset) + " has a bad checksum";
    }
    position_.offset += kJournalRecordSize;
  }
  return true;
}

bool JournalFollower::Next(std::size_t maxRecords, Batch* out) {
  out->entries.clear();
  out->records.clear();
  if (position_.day.empty()) {
    const std::vector<std::string> days = StoredDays();
    if (days.empty()) return false;
    std::string day = firstDay_.empty() ? days.back() : std::string();
    for (const std::string& d : days) {
      if (day.empty() && d >= firstDay_) day = d;
    }
    if (day.empty()) return false;
    position_ = JournalPosition{day};
  }
  ReturnToAGrownDay();
  out->start = position_;
  // Listed before the read: once a later day exists the collector has usually finished this one; if
  // it writes to it again (its clock stepped back), ReturnToAGrownDay comes back for those records.
  const std::string nextDay = DayAfter(position_.day);

  int openError = 0;
  const int fd = OpenRegularFile(DayPath(position_.day).c_str(), O_RDONLY, 0, &openError);
  if (fd < 0 && openError != ENOENT) Refuse(OpenErrorText(openError));
  if (fd >= 0) {
    const std::uint64_t before = position_.offset;
    ReadRecords(fd, maxRecords, out);
    ::close(fd);
    out->end = position_;
    if (position_.offset != before) return true;
  }
  out->end = position_;
  if (nextDay.empty()) return false;
  // Nothing more for this day now: a later day exists, so go on with it.
  ++counters_.daysFinished;
  Remember(position_);
  const auto resumed = finished_.find(nextDay);
  position_ = resumed != finished_.end() ? resumed->second : JournalPosition{nextDay};
  if (resumed != finished_.end()) finished_.erase(resumed);
  out->end = position_;
  return true;
}

void JournalFollower::Remember(const JournalPosition& position) {
  finished_[position.day] = position;
  while (finished_.size() > kMaxFinishedDays) finished_.erase(finished_.begin());
}

std::uint64_t JournalFollower::GrownBytes(const JournalPosition& position) const {
  if (refusedDays_.count(position.day) != 0) return 0;
  struct stat st {};
  if (::lstat(DayPath(position.day).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  const auto size = static_cast<std::uint64_t>(st.st_size);
  const std::uint64_t from = std::max<std::uint64_t>(position.offset, JournalHeaderSize());
  // Whole records only: a torn last record is not growth (the collector cuts it before appending).
  return size > from ? (size - from) / kJournalRecordSize * kJournalRecordSize : 0;
}

void JournalFollower::ReturnToAGrownDay() {
  for (auto it = finished_.begin(); it != finished_.end(); ++it) {
    if (it->first >= position_.day || GrownBytes(it->second) == 0) continue;
    const JournalPosition earlier = it->second;
    finished_.erase(it);
    Remember(position_);
    position_ = earlier;
    ++counters_.daysResumed;
    return;
  }
}

std::uint64_t JournalFollower::FinishedDaysBacklog() const {
  std::uint64_t bytes = 0;
  for (const auto& [day, position] : finished_) {
    if (day < position_.day) bytes += GrownBytes(position);
  }
  return bytes;
}

std::uint64_t JournalFollower::BytesAfter(const JournalPosition& from) const {
  std::uint64_t bytes = FinishedDaysBacklog();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(workdir_ + "/" + kJournalDirectory, ec)) {
    const std::string name = entry.path().filename().string();
    if (!IsDayFileName(name) || name.substr(0, 8) < from.day) continue;
    // A refused journal, or a link that will be, is never published: its bytes are no backlog.
    if (refusedDays_.count(name.substr(0, 8)) != 0 || !entry.is_regular_file(ec) || entry.is_symlink(ec)) continue;
    const std::uint64_t size = entry.file_size(ec);
    const std::uint64_t done =
        std::max<std::uint64_t>(name.substr(0, 8) == from.day ? from.offset : 0, JournalHeaderSize());
    if (!ec && size > done) bytes += size - done;
  }
  return bytes;
}
