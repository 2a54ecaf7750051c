#include "storage/day_packer.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "core/errno_text.h"
#include "core/open_regular_file.h"
#include "storage/journal_format.h"
#include "storage/packed_day_reader.h"
#include "storage/packed_day_writer.h"
#include "storage/packed_segment_loader.h"
#include "storage/storage_paths.h"

namespace {

constexpr std::size_t kRecordsPerRead = 2048;

// The journal read at `offset`; it may not end before the size it had when the pack began.
bool ReadAt(int fd, std::uint64_t offset, unsigned char* out, std::size_t size, std::string* error) {
  return ReadPackedAt(fd, offset, out, size, error, "the journal got shorter while it was packed");
}

// Descriptors and the temporary file of one packing, released however it ends.
struct Packing {
  int root = -1;
  int journal = -1;
  int history = -1;
  int temp = -1;
  std::string tempName;
  bool renamed = false;

  ~Packing() {
    if (temp >= 0) ::close(temp);
    if (!tempName.empty() && !renamed && history >= 0) ::unlinkat(history, tempName.c_str(), 0);
    if (history >= 0) ::close(history);
    if (journal >= 0) ::close(journal);
    CloseWorkingFolder(root);
  }
};

bool Pack(Packing& p, const std::string& day, std::uint64_t size, std::uint32_t version, const std::string& header,
          const std::function<bool()>& stop, PackReport* report, std::string* error) {
  PackedDayWriter writer;
  if (!writer.Begin(p.temp, day, version, header, size, error)) return false;
  const std::size_t recordSize = JournalRecordSize(version);
  const std::uint64_t slots = (size - header.size()) / recordSize;
  std::uint64_t offset = header.size();
  for (std::uint64_t done = 0; done < slots;) {
    if (stop && stop()) {
      *error = kPackStopped;
      return false;
    }
    // Read straight into the writer's segment.
    std::size_t count = kRecordsPerRead;
    unsigned char* room = writer.Room(&count, error);
    if (room == nullptr || !ReadAt(p.journal, offset, room, count * recordSize, error) ||
        !writer.AddRecords(room, count, error)) {
      return false;
    }
    offset += count * recordSize;
    done += count;
  }
  const std::size_t tail = static_cast<std::size_t>(size - offset);
  std::vector<unsigned char> buffer(recordSize);
  if (!ReadAt(p.journal, offset, buffer.data(), tail, error) || !writer.Finish(buffer.data(), tail, error)) return false;
  report->records = slots;
  report->damaged = writer.damaged();
  report->packed_bytes = writer.bytesWritten();
  return true;
}

// Unpacks the written file and compares it with the journal, byte for byte.
bool Verify(Packing& p, std::uint64_t size, const std::function<bool()>& stop, std::string* error) {
  PackedDayReader reader;
  if (!reader.OpenDescriptor(p.temp, p.tempName, error)) return false;
  std::vector<unsigned char> journal;
  std::uint64_t offset = 0;
  const bool unpacked = reader.Unpack(
      [&](const unsigned char* data, std::size_t n) {
        if (stop && stop()) {
          *error = kPackStopped;
          return false;
        }
        if (n > size - offset) {
          *error = "the packed day unpacks to more than the journal";
          return false;
        }
        journal.resize(n);
        if (!ReadAt(p.journal, offset, journal.data(), n, error)) return false;
        if (std::memcmp(journal.data(), data, n) != 0) {
          *error = "the packed day differs from the journal near offset " + std::to_string(offset);
          return false;
        }
        offset += n;
        return true;
      },
      error);
  if (unpacked && offset != size) *error = "the packed day unpacks to less than the journal";
  return unpacked && offset == size;
}

// Temporaries of `day` left by packers that are gone (killed or crashed mid-pack), this process's
// own earlier one included; a live packer's is left alone.
void RemoveAbandonedTemporaries(int history, const std::string& day) {
  const int fd = ::openat(history, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* listing = fd >= 0 ? ::fdopendir(fd) : nullptr;
  if (listing == nullptr) {
    if (fd >= 0) ::close(fd);
    return;
  }
  const std::string prefix = "." + day + ".qth.";
  std::vector<std::string> abandoned;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 4, 4, ".tmp") != 0) {
      continue;
    }
    const std::string pidText = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    if (pidText.empty() || pidText.size() > 9 || pidText.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(pidText));
    if (pid == ::getpid() || (::kill(pid, 0) != 0 && errno == ESRCH)) abandoned.push_back(name);
  }
  ::closedir(listing);
  for (const std::string& name : abandoned) ::unlinkat(history, name.c_str(), 0);
}

}  // namespace

bool PackJournalDay(const std::filesystem::path& workdir, const std::string& day, PackReport* report,
                    std::string* error, const std::function<bool()>& stop) {
  *report = PackReport{};
  const std::string journalName = JournalDayPath("", day);
  const auto fail = [&](const std::string& why) {
    *error = JournalDayPath(workdir.string(), day) + ": " + why;
    return false;
  };
  if (!IsJournalFileName(day + ".qtj")) return fail("not a trading day (8 digits)");
  Packing p;
  int openError = 0;
  p.root = OpenWorkingFolder(workdir.string(), &openError);
  if (p.root == -1) return fail(OpenErrorText(openError));
  p.journal = OpenRegularFileBelow(p.root, journalName, O_RDONLY, 0, &openError);
  if (p.journal < 0) return fail(OpenErrorText(openError));
  struct stat before;
  if (::fstat(p.journal, &before) != 0) return fail(ErrnoText(errno));
  const auto size = static_cast<std::uint64_t>(before.st_size);
  std::string header(std::min<std::uint64_t>(size, JournalMaxHeaderSize()), '\0');
  std::string why;
  if (!ReadAt(p.journal, 0, reinterpret_cast<unsigned char*>(header.data()), header.size(), &why)) return fail(why);
  std::size_t headerSize = 0;
  std::uint32_t version = 0;
  if (!CheckJournalHeader(reinterpret_cast<const unsigned char*>(header.data()), header.size(), &headerSize, &why,
                          &version)) {
    return fail(why);
  }
  header.resize(headerSize);
  report->journal_bytes = size;

  p.history = OpenFolderBelow(p.root, kHistoryDirectory, true, &openError);
  if (p.history < 0) return fail(std::string(kHistoryDirectory) + ": " + OpenErrorText(openError));
  p.tempName = "." + day + ".qth." + std::to_string(::getpid()) + ".tmp";
  RemoveAbandonedTemporaries(p.history, day);
  p.temp = OpenRegularFileBelow(p.history, p.tempName, O_RDWR | O_CREAT | O_EXCL, 0644, &openError);
  if (p.temp < 0) {
    p.tempName.clear();
    return fail(std::string(kHistoryDirectory) + ": " + OpenErrorText(openError));
  }
  if (!Pack(p, day, size, version, header, stop, report, &why)) return fail("packing: " + why);
  if (!Verify(p, size, stop, &why)) return fail("verifying: " + why);
  struct stat after;
  if (::fstat(p.journal, &after) != 0 || after.st_size != before.st_size) {
    return fail("the journal changed while it was packed");
  }
  if (::fsync(p.temp) != 0) return fail("fsync: " + ErrnoText(errno));
  const std::string finalName = day + ".qth";
  if (::renameat(p.history, p.tempName.c_str(), p.history, finalName.c_str()) != 0) {
    return fail("rename: " + ErrnoText(errno));
  }
  p.renamed = true;
  ::fsync(p.history);
  return true;
}
