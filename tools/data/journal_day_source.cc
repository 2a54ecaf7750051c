#include "tools/data/journal_day_source.h"

#include "core/errno_text.h"

JournalDaySource::JournalDaySource(std::string path) : path_(std::move(path)) {
  // A day is read in one pass: blocks of about a megabyte, as the per-contract files are, hand the
  // read-ahead thread's work over a quarter as often.
  reader_.SetRecordsPerRead(kRecordsPerRead);
}

bool JournalDaySource::Open() {
  if (!reader_.Open(path_, &error_)) return false;
  if (::lstat(path_.c_str(), &info_) != 0) {
    error_ = path_ + ": " + ErrnoText(errno);
    return false;
  }
  return true;
}

TickSource::Result JournalDaySource::Next(SourceTick* tick) {
  if (!reading_) {
    reading_ = true;
    reader_.ReadAhead();
  }
  for (;;) {
    const JournalReader::Result r = reader_.Next(&entry_, &error_);
    if (r == JournalReader::Result::kError) return Result::kError;
    if (r == JournalReader::Result::kEnd) {
      // Settled: nothing appended while it was read and no record half written.
      struct stat after;
      settled_ = ::lstat(path_.c_str(), &after) == 0 && after.st_size == info_.st_size &&
                 after.st_mtim.tv_sec == info_.st_mtim.tv_sec && after.st_mtim.tv_nsec == info_.st_mtim.tv_nsec &&
                 reader_.partialBytes() == 0;
      return Result::kEnd;
    }
    image_ = reinterpret_cast<const char*>(reader_.recordBytes()) + kJournalTickOffset;
    if (Emit(tick)) return Result::kTick;
  }
}

bool JournalDaySource::Modified(std::string_view, timespec* when) const {
  *when = info_.st_mtim;
  return true;
}
