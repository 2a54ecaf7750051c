#ifndef QUOTELOOM_STORAGE_DAY_PACKER_H
#define QUOTELOOM_STORAGE_DAY_PACKER_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

// Packs a finished day's journal into History/<day>.qth (docs/tick-files.md, "The packed day").
// Any thread; one call per day at a time.

struct PackReport {
  std::uint64_t records = 0;        // whole record slots of the journal, damaged ones included
  std::uint64_t damaged = 0;        // slots whose checksum or text terminators fail
  std::uint64_t journal_bytes = 0;
  std::uint64_t packed_bytes = 0;
};

// Packs <workdir>/Journal/<day>.qtj into <workdir>/History/<day>.qth: writes a temporary file in
// History/, unpacks it and compares it with the journal byte for byte, fsyncs, and only then
// renames it into place, so a file at History/<day>.qth is always packed and verified. False
// with `error` set otherwise, leaving nothing at that name. `stop`, when given, is asked between
// pieces of the work: once it says true the pack is given up (kPackStopped in `error`), so a program
// that ends is not held up by a long day.
inline constexpr const char* kPackStopped = "given up: the program is stopping";
bool PackJournalDay(const std::filesystem::path& workdir, const std::string& day, PackReport* report,
                    std::string* error, const std::function<bool()>& stop = {});

#endif
