#include "cluster/publish_state.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

bool PublishState::Load(FollowPosition* out, std::string* error) const {
  *out = FollowPosition{};
  std::ifstream in(path_, std::ios::binary);
  if (!in) {
    if (errno == ENOENT) return true;
    *error = "cannot read the state file " + path_ + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  const nlohmann::json j = nlohmann::json::parse(text.str(), nullptr, false);
  if (j.is_discarded() || !j.is_object() || !j.contains("day") || !j["day"].is_string() ||
      !j.contains("offset") || !j["offset"].is_number_unsigned()) {
    *error = "the state file " + path_ + " is not a publisher state; remove it to start from the newest day";
    return false;
  }
  out->day = j["day"].get<std::string>();
  out->offset = j["offset"].get<std::uint64_t>();
  out->device = j.value("device", std::uint64_t{0});
  out->inode = j.value("inode", std::uint64_t{0});
  if (out->day.size() != 8 || out->day.find_first_not_of("0123456789") != std::string::npos) {
    *error = "the state file " + path_ + " names no day";
    return false;
  }
  return true;
}

bool PublishState::Save(const FollowPosition& p, std::string* error) const {
  const nlohmann::json j = {{"day", p.day}, {"offset", p.offset}, {"device", p.device}, {"inode", p.inode}};
  const std::string text = j.dump() + "\n";
  const std::string temporary = path_ + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0;
  ok = ok && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = ok && ::fdatasync(fd) == 0;
  if (fd >= 0 && ::close(fd) != 0) ok = false;
  ok = ok && ::rename(temporary.c_str(), path_.c_str()) == 0;
  if (!ok) *error = "cannot write the state file " + path_ + ": " + std::strerror(errno);
  return ok;
}
