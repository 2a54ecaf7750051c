#ifndef QUOTELOOM_CLUSTER_JOURNAL_FOLLOWER_H
#define QUOTELOOM_CLUSTER_JOURNAL_FOLLOWER_H

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "storage/journal_format.h"
#include "storage/journal_reader.h"

// Where a follower stands in the journals: the day's file, the offset of the next record (always a
// record boundary; 0 before the header), the identity of the file, and the sequence number of the
// record just before the offset, so a file rewritten in place is noticed too. Value type.
struct JournalPosition {
  std::string day;  // yyyymmdd; empty: not started
  std::uint64_t offset = 0;
  std::uint64_t device = 0;  // 0: not yet seen
  std::uint64_t inode = 0;
  std::uint64_t sequence = 0;  // 0: no record before the offset
  bool operator==(const JournalPosition&) const = default;
};

// Reads, through the one journal reader, the whole records that the collector appends to
// Journal/<day>.qtj of one working folder (any journal version),
// moving on to the next day's journal once one exists and coming back to an earlier day that grows
// again; never hands out a partial record. A journal replaced, shortened or rewritten under it is read
// again from its start (the ids make that safe downstream). The publisher thread only.
class JournalFollower {
 public:
  struct Batch {
    JournalPosition start;
    JournalPosition end;  // after the records and any damaged ones skipped with them
    std::vector<JournalEntry> entries;
    // Each entry's record in the layout of the version written (as it is in a journal of that
    // version; a record of an older one is encoded again), valid until the next Next.
    std::vector<const unsigned char*> records;
  };
  struct Counters {
    std::uint64_t damagedRecords = 0;  // checksum failed: skipped, never handed out
    std::uint64_t filesReplaced = 0;
    std::uint64_t filesTruncated = 0;  // shortened or rewritten in place
    std::uint64_t daysFinished = 0;
    std::uint64_t filesRefused = 0;    // not a regular file, or not a journal this program reads
    std::uint64_t daysResumed = 0;     // returns to an earlier day that grew after it was left
  };

  explicit JournalFollower(std::string workdir);

  // Starts at `from`; with an empty day, at `firstDay` or the first stored day after it (an empty
  // `firstDay`: the newest stored day), from its beginning.
  void Start(const JournalPosition& from, const std::string& firstDay);
  // Goes back to `position` (records read after it were not acknowledged).
  void Rewind(const JournalPosition& position);

  // Reads at most `maxRecords` new records. True when the read position moved (the batch may then
  // hold no record: damaged ones skipped or a change of day); false when nothing is new.
  bool Next(std::size_t maxRecords, Batch* out);

  const JournalPosition& position() const { return position_; }
  // Bytes of whole records appended to earlier days after they were left, not yet read.
  std::uint64_t FinishedDaysBacklog() const;
  // Bytes not yet behind `from` (an acknowledged position): the journals from its day on, and the
  // finished days' backlog.
  std::uint64_t BytesAfter(const JournalPosition& from) const;
  const Counters& counters() const { return counters_; }
  // The last refused file or damaged record, for the log.
  const std::string& lastFault() const { return lastFault_; }
  std::string DayPath(const std::string& day) const;

 private:
  // True when the record before the read position is still the one handed out last.
  bool SequenceMatches(JournalReader& reader) const;
  // The version of the day's journal when it was last opened; the version written before that.
  std::uint32_t VersionOf(const std::string& day) const;
  std::vector<std::string> StoredDays();
  std::string DayAfter(const std::string& day);
  void Remember(const JournalPosition& position);
  std::uint64_t GrownBytes(const JournalPosition& position) const;
  void ReturnToAGrownDay();
  void Refuse(const std::string& fault);
  // Reads the new whole records of the day's journal into `out`; `opened` false: its header was
  // refused (`why`) or is not whole yet. False when the file is refused.
  bool ReadRecords(JournalReader& reader, bool opened, const std::string& why, std::size_t maxRecords, Batch* out);

  const std::string workdir_;
  JournalPosition position_;
  std::string firstDay_;
  static constexpr std::size_t kMaxFinishedDays = 7;
  std::map<std::string, JournalPosition> finished_;  // days left for a later one, where they were left
  // Days whose file was refused: counted once, and never come back to as a grown day.
  std::map<std::string, bool> refusedDays_;
  std::map<std::string, std::uint32_t> versions_;  // of the days opened lately
  Counters counters_;
  std::string lastFault_;
  std::vector<std::string> days_;
  std::chrono::steady_clock::time_point daysListedAt_{};
  std::vector<unsigned char> buffer_;  // the records of the last read
  JournalReader reader_;               // opened again for every read, its buffer kept
};

#endif
