// history_fixture: what the Python history reader's tests need from the C++ side of the store.
//   history_fixture header DAY VERSION          the journal header of that version, to standard output
//   history_fixture pack WORKDIR DAY            packs Journal/<day>.qtj into History/<day>.qth
//   history_fixture records FILE [CONTRACT...]  every whole record the C++ reader gives of a journal or
//                                               packed day (of those contracts only, when named), each
//                                               encoded as a journal record, to standard output; the
//                                               damaged count on standard error
// One thread; exit 1 with the reason on standard error when the store refuses the file.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "storage/day_packer.h"
#include "storage/journal_format.h"
#include "storage/journal_reader.h"
#include "storage/packed_day_reader.h"

namespace {

bool WriteAll(const void* data, std::size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(STDOUT_FILENO, p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "history_fixture: %s\n", why.c_str());
  return 1;
}

int Header(const char* day, const char* version) {
  const std::string header = JournalHeaderBytes(day, static_cast<std::uint32_t>(std::atoi(version)));
  return WriteAll(header.data(), header.size()) ? 0 : 1;
}

int Pack(const char* workdir, const char* day) {
  PackReport report;
  std::string error;
  if (!PackJournalDay(workdir, day, &report, &error)) return Fail(error);
  std::fprintf(stderr, "packed %llu records, %llu damaged\n", static_cast<unsigned long long>(report.records),
               static_cast<unsigned long long>(report.damaged));
  return 0;
}

bool Emit(const JournalEntry& entry, std::uint32_t version) {
  unsigned char record[kJournalMaxRecordSize];
  EncodeJournalRecord(entry, version, record);
  return WriteAll(record, JournalRecordSize(version));
}

int JournalRecords(const std::string& path, const std::vector<std::string>& contracts) {
  JournalReader reader;
  std::string error;
  if (!reader.Open(path, &error)) return Fail(error);
  JournalEntry entry;
  for (;;) {
    const JournalReader::Result r = reader.Next(&entry, &error);
    if (r == JournalReader::Result::kError) return Fail(error);
    if (r == JournalReader::Result::kEnd) break;
    const std::string id(entry.tick.InstrumentID, strnlen(entry.tick.InstrumentID, sizeof entry.tick.InstrumentID));
    bool wanted = contracts.empty();
    for (const std::string& c : contracts) wanted |= c == id;
    if (wanted && !Emit(entry, reader.version())) return Fail("cannot write");
  }
  std::fprintf(stderr, "damaged %llu\n", static_cast<unsigned long long>(reader.badRecords()));
  return 0;
}

int PackedRecords(const std::string& path, const std::vector<std::string>& contracts) {
  PackedDayReader reader;
  std::string error;
  if (!reader.Open(path, &error)) return Fail(error);
  const std::uint32_t version = reader.header().journalVersion;
  if (!contracts.empty()) {
    // Each contract through its own blocks, then merged back into the journal's order by sequence.
    std::vector<JournalEntry> all;
    for (const std::string& c : contracts) {
      std::vector<JournalEntry> one;
      if (!reader.ReadContract(c, &one, &error)) return Fail(error);
      all.insert(all.end(), one.begin(), one.end());
    }
    std::stable_sort(all.begin(), all.end(), [](const JournalEntry& a, const JournalEntry& b) { return a.sequence < b.sequence; });
    for (const JournalEntry& e : all) {
      if (!Emit(e, version)) return Fail("cannot write");
    }
    return 0;
  }
  JournalEntry entry;
  for (;;) {
    const PackedDayReader::Result r = reader.Next(&entry, &error);
    if (r == PackedDayReader::Result::kError) return Fail(error);
    if (r == PackedDayReader::Result::kEnd) break;
    if (!Emit(entry, version)) return Fail("cannot write");
  }
  std::fprintf(stderr, "damaged %llu\n", static_cast<unsigned long long>(reader.badRecords()));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "header") == 0) return Header(argv[2], argv[3]);
  if (argc == 4 && std::strcmp(argv[1], "pack") == 0) return Pack(argv[2], argv[3]);
  if (argc >= 3 && std::strcmp(argv[1], "records") == 0) {
    const std::string path = argv[2];
    const std::vector<std::string> contracts(argv + 3, argv + argc);
    const bool packed = path.size() > 4 && path.compare(path.size() - 4, 4, ".qth") == 0;
    return packed ? PackedRecords(path, contracts) : JournalRecords(path, contracts);
  }
  std::fprintf(stderr, "usage: history_fixture header DAY VERSION | pack WORKDIR DAY | records FILE [CONTRACT...]\n");
  return 2;
}
