#include "cluster/publish_state.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "core/open_regular_file.h"

namespace {

std::string ToHex(const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
  }
  return out;
}

// Bytes of the hex text; a damaged text gives no bytes (the check of the file is then skipped).
std::string FromHex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    const int hi = std::isxdigit(static_cast<unsigned char>(hex[i])) ? std::stoi(hex.substr(i, 1), nullptr, 16) : -1;
    const int lo =
        std::isxdigit(static_cast<unsigned char>(hex[i + 1])) ? std::stoi(hex.substr(i + 1, 1), nullptr, 16) : -1;
    if (hi < 0 || lo < 0) return {};
    out += static_cast<char>(hi * 16 + lo);
  }
  return hex.size() % 2 == 0 ? out : std::string();
}

}  // namespace

bool PublishState::Load(FollowPosition* out, std::string* error) const {
  *out = FollowPosition{};
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
  if (j.is_discarded() || !j.is_object() || !j.contains("day") || !j["day"].is_string() ||
      !j.contains("offset") || !j["offset"].is_number_unsigned()) {
    *error = "the state file " + path_ + " is not a publisher state; remove it to start from the newest day";
    return false;
  }
  out->day = j["day"].get<std::string>();
  out->offset = j["offset"].get<std::uint64_t>();
  out->device = j.value("device", std::uint64_t{0});
  out->inode = j.value("inode", std::uint64_t{0});
  out->tail = FromHex(j.value("tail", std::string()));
  out->insideLongLine = j.value("inside_long_line", false);
  if (out->day.size() != 8 || out->day.find_first_not_of("0123456789") != std::string::npos) {
    *error = "the state file " + path_ + " names no day";
    return false;
  }
  return true;
}

bool PublishState::Save(const FollowPosition& p, std::string* error) const {
  nlohmann::json j = {{"day", p.day}, {"offset", p.offset}, {"device", p.device}, {"inode", p.inode}, {"tail", ToHex(p.tail)}};
  if (p.insideLongLine) j["inside_long_line"] = true;
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
