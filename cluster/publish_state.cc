#include "cluster/publish_state.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "core/open_regular_file.h"
#include "sessions/civil_date.h"

bool PublishState::Load(JournalPosition* out, std::string* error, std::string* note) const {
  *out = JournalPosition{};
  int openError = 0;
  const int fd = OpenRegularFile(path_.c_str(), O_RDONLY, 0, &openError);
  if (fd < 0) {
    if (openError == ENOENT) return true;
    *error = "cannot read the state file " + path_ + ": " + OpenErrorText(openError);
    return false;
  }
  // A state file is a few hundred bytes; anything past 64 KiB is not one.
  std::string text(64 * 1024, '\0');
  const ssize_t n = ::read(fd, text.data(), text.size());
  ::close(fd);
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  const auto unsignedOr0 = [&](const char* key) {
    return j.contains(key) && j[key].is_number_unsigned() ? j[key].get<std::uint64_t>() : std::uint64_t{0};
  };
  if (j.is_discarded() || !j.is_object() || !j.contains("day") || !j["day"].is_string() ||
      !j.contains("offset") || !j["offset"].is_number_unsigned()) {
    *error = "the state file " + path_ + " is not a publisher state; remove it to start from the newest day";
    return false;
  }
  out->day = j["day"].get<std::string>();
  if (out->day.size() != 8 || out->day.find_first_not_of("0123456789") != std::string::npos ||
      !IsCalendarDate(std::atoi(out->day.c_str()))) {
    *error = "the state file " + path_ + " names no day";
    return false;
  }
  if (!j.contains("file") || j["file"] != "journal") {
    // Offsets of a time-stream file mean nothing in a journal: that day is published again (the
    // message ids keep the stream from storing a tick twice).
    if (note != nullptr) *note = "the state file holds a time-stream position; publishing day " + out->day + " again from its start";
    return true;
  }
  out->offset = j["offset"].get<std::uint64_t>();
  out->device = unsignedOr0("device");
  out->inode = unsignedOr0("inode");
  out->sequence = unsignedOr0("sequence");
  if (out->offset != 0 && !IsJournalRecordBoundary(out->offset)) {
    *error = "the state file " + path_ + " holds an offset that is no record boundary; remove it to start from the newest day";
    return false;
  }
  return true;
}

bool PublishState::Save(const JournalPosition& p, std::string* error) const {
  const nlohmann::json j = {{"file", "journal"}, {"day", p.day},       {"offset", p.offset},
                            {"device", p.device}, {"inode", p.inode}, {"sequence", p.sequence}};
  const std::string text = j.dump() + "\n";
  const std::string temporary = path_ + ".tmp";
  int openError = 0;
  const int fd = OpenRegularFile(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644, &openError);
  if (fd < 0) errno = openError == kNotARegularFile ? EINVAL : openError;
  bool ok = fd >= 0;
  ok = ok && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = ok && ::fdatasync(fd) == 0;
  if (fd >= 0 && ::close(fd) != 0) ok = false;
  ok = ok && ::rename(temporary.c_str(), path_.c_str()) == 0;
  if (!ok) *error = "cannot write the state file " + path_ + ": " + std::strerror(errno);
  return ok;
}
