#include "history/history_status.h"

#include <sys/statvfs.h>

void HistoryStatus::SetHistory(std::uint64_t days, std::uint64_t bytes) {
  packedDays_.store(days, std::memory_order_relaxed);
  packedBytes_.store(bytes, std::memory_order_relaxed);
}

void HistoryStatus::PackDone(bool verified, std::int64_t unixSeconds) {
  (verified ? packsVerified_ : packsFailed_).fetch_add(1, std::memory_order_relaxed);
  lastPack_.store(static_cast<int>(verified ? LastPack::kVerified : LastPack::kFailed), std::memory_order_relaxed);
  lastPackTime_.store(unixSeconds, std::memory_order_relaxed);
}

void HistoryStatus::Fill(SampleSet& s) const {
  const auto load = [](const auto& atomic) { return static_cast<double>(atomic.load(std::memory_order_relaxed)); };
  s.Gauge("quoteloom_history_packed_days", "Days packed and verified in History/", load(packedDays_));
  s.Gauge("quoteloom_history_bytes", "Bytes of the packed days in History/", load(packedBytes_));
  s.Gauge("quoteloom_history_last_pack_verified",
          "1 when the last pack was verified, 0 when it failed, -1 before the first", load(lastPack_));
  s.Gauge("quoteloom_history_last_pack_timestamp_seconds", "Unix time the last pack ended (0 before the first)",
          load(lastPackTime_));
  s.Counter("quoteloom_history_packs_total", "Days packed, by result", load(packsVerified_), {{"result", "verified"}});
  s.Counter("quoteloom_history_packs_total", "Days packed, by result", load(packsFailed_), {{"result", "failed"}});
  s.Counter("quoteloom_history_deleted_total", "Days whose files the retention deleted, by store",
            load(journalsDeleted_), {{"store", "journal"}});
  s.Counter("quoteloom_history_deleted_total", "Days whose files the retention deleted, by store", load(csvDeleted_),
            {{"store", "csv"}});
}

double FreeBytesOf(const std::filesystem::path& folder) {
  struct statvfs st {};
  if (::statvfs(folder.c_str(), &st) != 0) return -1;
  return static_cast<double>(st.f_bavail) * static_cast<double>(st.f_frsize);
}

void AddWorkdirFreeSample(SampleSet& s, const std::filesystem::path& workdir) {
  s.Gauge("quoteloom_workdir_free_bytes", "Bytes still free for the program on the working folder's filesystem",
          FreeBytesOf(workdir));
}
