#include "core/ini_file.h"

#include <ini.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <mutex>

#include "core/open_regular_file.h"

namespace {

std::string Lower(const char* text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string KeyOf(const char* section, const char* key) { return Lower(section) + '\n' + Lower(key); }

std::string Unquote(const char* value) {
  std::string out(value);
  if (out.size() >= 2 && (out.front() == '"' || out.front() == '\'') && out.back() == out.front())
    out = out.substr(1, out.size() - 2);
  return out;
}

int Store(void* user, const char* section, const char* name, const char* value) {
  auto* values = static_cast<std::map<std::string, std::string>*>(user);
  values->emplace(KeyOf(section, name), Unquote(value ? value : ""));
  return 1;
}

// inih's parse switches are process-wide; private-profile files know no inline comments or continuations.
std::mutex& ParserMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

CIniFile::CIniFile(const char* path) : path_(std::string(path).substr(0, kMaxPathLength)) {
  std::lock_guard<std::mutex> lock(ParserMutex());
  ini_allow_inline_comments = false;
  ini_allow_multiline = false;
  int error = 0;
  std::FILE* file = OpenRegularStream(path_.c_str(), O_RDONLY, "r", &error);
  if (file == nullptr) return;
  // A malformed line is skipped and the rest of the file still counts, as Windows does.
  ini_parse_file(file, &Store, &values_);
  std::fclose(file);
  loaded_ = true;
}

const std::string* CIniFile::Find(const char* section, const char* key) const {
  auto it = values_.find(KeyOf(section, key));
  return it == values_.end() ? nullptr : &it->second;
}

int CIniFile::ReadInt(const char* section, const char* key, int defaultValue) const {
  const std::string* value = Find(section, key);
  if (value == nullptr) return defaultValue;
  long long number = 0;
  for (char c : *value) {
    if (!std::isdigit(static_cast<unsigned char>(c))) break;
    number = number * 10 + (c - '0');
    if (number > INT_MAX) return INT_MAX;
  }
  return static_cast<int>(number);
}

void CIniFile::ReadString(const char* section, const char* key, const char* defaultValue, char* out,
                          std::size_t size) const {
  if (size == 0) return;
  const std::string* value = Find(section, key);
  std::snprintf(out, size, "%s", value ? value->c_str() : defaultValue);
}
