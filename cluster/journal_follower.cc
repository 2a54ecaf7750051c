#include "cluster/journal_follower.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/open_regular_file.h"
#include "storage/journal_reader.h"

namespace {

constexpr auto kListInterval = std::chrono::milliseconds(200);
constexpr std::size_t kMaxRefusedDays = 64;
constexpr std::size_t kMaxVersionsKept = 16;

}  // namespace

JournalFollower::JournalFollower(std::string workdir) : workdir_(std::move(workdir)) {}

void JournalFollower::Start(const JournalPosition& from, const std::string& firstDay) {
  position_ = from;
  firstDay_ = firstDay;
}

void JournalFollower::Rewind(const JournalPosition& position) { position_ = position; }

std::string JournalFollower::DayPath(const std::string& day) const { return JournalDayPath(workdir_, day); }

std::vector<std::string> JournalFollower::StoredDays() {
  const auto now = std::chrono::steady_clock::now();
  if (now - daysListedAt_ < kListInterval) return days_;
  daysListedAt_ = now;
  days_.clear();
  std::error_code ec;
  std::string day;
  for (const auto& entry : std::filesystem::directory_iterator(JournalDirectoryPath(workdir_), ec)) {
    if (IsJournalFileName(entry.path().filename().string(), &day)) days_.push_back(day);
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

bool JournalFollower::SequenceMatches(JournalReader& reader) const {
  if (position_.sequence == 0 || position_.offset < reader.headerSize() + reader.recordSize()) return true;
  if (!reader.Seek(position_.offset - reader.recordSize())) return false;
  JournalEntry entry;
  std::string error;
  const JournalReader::Result r = reader.Next(&entry, &error);
  // A damaged record there cannot be compared: it was skipped when it was read.
  if (reader.badRecords() > 0) return true;
  return r == JournalReader::Result::kRecord && entry.sequence == position_.sequence;
}

void JournalFollower::Refuse(const std::string& fault) {
  if (refusedDays_.count(position_.day) != 0) return;
  if (refusedDays_.size() >= kMaxRefusedDays) refusedDays_.erase(refusedDays_.begin());
  refusedDays_[position_.day] = true;
  ++counters_.filesRefused;
  lastFault_ = fault;
}

std::uint32_t JournalFollower::VersionOf(const std::string& day) const {
  const auto it = versions_.find(day);
  return it != versions_.end() ? it->second : kJournalVersion;
}

bool JournalFollower::ReadRecords(JournalReader& reader, bool opened, const std::string& why, std::size_t maxRecords,
                                  Batch* out) {
  const bool seen = position_.inode != 0 || position_.device != 0;
  const std::uint64_t size = reader.sizeAtOpen();
  if (seen && (reader.inode() != position_.inode || reader.device() != position_.device)) {
    ++counters_.filesReplaced;
    position_ = JournalPosition{position_.day};
  } else if (size < position_.offset || (opened && !SequenceMatches(reader))) {
    ++counters_.filesTruncated;
    position_ = JournalPosition{position_.day};
  }
  position_.inode = reader.inode();
  position_.device = reader.device();
  if (!opened) {
    // A journal being started: its header comes next.
    if (reader.headerIncomplete()) return true;
    Refuse(why);
    return false;
  }
  if (versions_.size() >= kMaxVersionsKept && versions_.count(position_.day) == 0) versions_.erase(versions_.begin());
  versions_[position_.day] = reader.version();
  if (position_.offset < reader.headerSize()) position_.offset = reader.headerSize();
  if (!reader.Seek(position_.offset)) {
    // No record begins there in this file: it was rewritten in another layout.
    ++counters_.filesTruncated;
    position_ = JournalPosition{position_.day, reader.headerSize(), reader.device(), reader.inode()};
    reader.Seek(position_.offset);
  }
  const std::size_t limit = std::max<std::size_t>(maxRecords, 1);
  // One buffer for the follower's life: a fresh one per batch costs page faults and zeroing.
  if (buffer_.size() < limit * kJournalRecordSize) buffer_.resize(limit * kJournalRecordSize);
  out->entries.reserve(limit);
  JournalEntry entry;
  std::string error;
  const std::uint64_t damagedBefore = reader.badRecords();  // the sequence check may have met one
  std::uint64_t damaged = damagedBefore;
  while (out->entries.size() < limit) {
    const std::uint64_t at = reader.offset();
    const JournalReader::Result r = reader.Next(&entry, &error);
    if (reader.badRecords() > damaged) {
      damaged = reader.badRecords();
      lastFault_ = DayPath(position_.day) + ": record at offset " + std::to_string(at) + " has a bad checksum";
    }
    if (r != JournalReader::Result::kRecord) break;
    // Handed on in the layout of the version written, whatever the file's: the message body.
    unsigned char* const record = buffer_.data() + out->entries.size() * kJournalRecordSize;
    if (reader.version() == kJournalVersion) {
      std::memcpy(record, reader.recordBytes(), kJournalRecordSize);
    } else {
      EncodeJournalRecord(entry, kJournalVersion, record);
    }
    position_.sequence = entry.sequence;
    out->entries.push_back(entry);
    out->records.push_back(record);
  }
  counters_.damagedRecords += damaged - damagedBefore;
  position_.offset = reader.offset();
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

  JournalReader& reader = reader_;
  std::string why;
  reader.SetRecordsPerRead(maxRecords);
  const bool opened = reader.Open(DayPath(position_.day), &why);
  if (!opened && reader.openError() != 0 && reader.openError() != ENOENT) {
    Refuse(DayPath(position_.day) + ": " + OpenErrorText(reader.openError()));
  }
  if (opened || reader.openError() == 0) {
    const std::uint64_t before = position_.offset;
    ReadRecords(reader, opened, why, maxRecords, out);
    reader.Close();
    out->end = position_;
    if (position_.offset != before) return true;
  }
  reader.Close();
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
  const std::uint32_t version = VersionOf(position.day);
  const std::uint64_t recordSize = JournalRecordSize(version);
  const std::uint64_t from = std::max<std::uint64_t>(position.offset, JournalHeaderSize(version));
  // Whole records only: a torn last record is not growth (the collector cuts it before appending).
  return size > from ? (size - from) / recordSize * recordSize : 0;
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
  std::string day;
  for (const auto& entry : std::filesystem::directory_iterator(JournalDirectoryPath(workdir_), ec)) {
    if (!IsJournalFileName(entry.path().filename().string(), &day) || day < from.day) continue;
    // A refused journal, or a link that will be, is never published: its bytes are no backlog.
    if (refusedDays_.count(day) != 0 || !entry.is_regular_file(ec) || entry.is_symlink(ec)) continue;
    const std::uint64_t size = entry.file_size(ec);
    const std::uint64_t done =
        std::max<std::uint64_t>(day == from.day ? from.offset : 0, JournalHeaderSize(VersionOf(day)));
    if (!ec && size > done) bytes += size - done;
  }
  return bytes;
}
