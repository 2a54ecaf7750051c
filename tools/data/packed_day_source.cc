#include "tools/data/packed_day_source.h"

#include "core/errno_text.h"

PackedDaySource::PackedDaySource(std::string path) : path_(std::move(path)) {}

bool PackedDaySource::Open() {
  if (!reader_.Open(path_, &error_)) return false;
  if (::lstat(path_.c_str(), &info_) != 0) {
    error_ = path_ + ": " + ErrnoText(errno);
    return false;
  }
  return true;
}

void PackedDaySource::Skip(std::string_view contract) {
  ExactRecordSource::Skip(contract);
  reader_.Skip(contract);
}

TickSource::Result PackedDaySource::Next(SourceTick* tick) {
  for (;;) {
    const PackedDayReader::Result r = reader_.Next(&entry_, &error_);
    if (r == PackedDayReader::Result::kError) return Result::kError;
    if (r == PackedDayReader::Result::kEnd) {
      // A packed day is written once; settled unless it was replaced while it was read.
      struct stat after;
      settled_ = ::lstat(path_.c_str(), &after) == 0 && after.st_ino == info_.st_ino &&
                 after.st_mtim.tv_sec == info_.st_mtim.tv_sec && after.st_mtim.tv_nsec == info_.st_mtim.tv_nsec;
      return Result::kEnd;
    }
    if (Emit(tick)) return Result::kTick;
  }
}

bool PackedDaySource::Modified(std::string_view, timespec* when) const {
  *when = info_.st_mtim;
  return true;
}
