#include "core/conf_file_user_store.h"

#include <strings.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

#include "core/open_regular_file.h"

namespace {

// A per-user settings file holds a few lines.
constexpr std::size_t kMaxStoreBytes = 1 << 20;

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::string text;
  std::string error;
  if (!ReadRegularFile(path.c_str(), kMaxStoreBytes, &text, &error)) text.clear();
  std::istringstream in(std::move(text));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string Trim(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  const auto end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

bool IsSection(const std::string& line, std::string* name) {
  const std::string trimmed = Trim(line);
  if (trimmed.size() < 2 || trimmed.front() != '[' || trimmed.back() != ']') return false;
  *name = trimmed.substr(1, trimmed.size() - 2);
  return true;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// Splits "key=value"; false for lines that are not assignments.
bool SplitEntry(const std::string& line, std::string* key, std::string* value) {
  const auto eq = line.find('=');
  if (eq == std::string::npos) return false;
  *key = Trim(line.substr(0, eq));
  *value = Trim(line.substr(eq + 1));
  if (value->size() >= 2 && value->front() == '"' && value->back() == '"') *value = value->substr(1, value->size() - 2);
  return true;
}

}  // namespace

std::string XdgConfigPath(std::string_view relative) {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr) {
    base = std::string(home) + "/.config";
  } else {
    base = ".config";
  }
  return base + "/" + std::string(relative);
}

ConfFileUserStore::ConfFileUserStore(std::string path) : path_(std::move(path)) {}

std::string ConfFileUserStore::DefaultPath() {
  return XdgConfigPath(std::string(kUserStoreOrganization) + "/" + kUserStoreApplication + ".conf");
}

std::string ConfFileUserStore::Read(std::string_view name) {
  bool inSection = false;
  for (const std::string& line : ReadLines(path_)) {
    std::string section, key, value;
    if (IsSection(line, &section)) {
      inSection = SameName(section, kUserStoreSection);
    } else if (inSection && SplitEntry(line, &key, &value) && SameName(key, name)) {
      return value;
    }
  }
  return {};
}

bool ConfFileUserStore::Write(std::string_view name, std::string_view value) {
  std::vector<std::string> lines = ReadLines(path_);
  const std::string entry = std::string(name) + "=" + std::string(value);

  // The [Settings] section spans (begin, end); begin == lines.size() when it is missing.
  std::size_t begin = lines.size(), end = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string section;
    if (!IsSection(lines[i], &section)) continue;
    if (begin == lines.size() && SameName(section, kUserStoreSection)) {
      begin = i;
    } else if (begin != lines.size()) {
      end = i;
      break;
    }
  }

  if (begin == lines.size()) {
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
    lines.push_back(std::string("[") + kUserStoreSection + "]");
    lines.push_back(entry);
  } else {
    std::size_t at = end;
    for (std::size_t i = begin + 1; i < end; ++i) {
      std::string key, old;
      if (SplitEntry(lines[i], &key, &old) && SameName(key, name)) at = i;
    }
    if (at != end) {
      lines[at] = entry;
    } else {
      while (at > begin + 1 && Trim(lines[at - 1]).empty()) --at;  // before the blank lines that end it
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), entry);
    }
  }

  std::error_code ec;
  const std::filesystem::path target(path_);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
  const std::string temp = path_ + ".tmp";
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  std::string error;
  if (!WriteRegularFile(temp.c_str(), text, false, &error)) return false;
  std::filesystem::rename(temp, target, ec);
  return !ec;
}
