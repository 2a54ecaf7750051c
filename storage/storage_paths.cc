#include "storage/storage_paths.h"

#include <cstdio>
#include <cstring>

#include <algorithm>

namespace {

// A snprintf result that did not fit: the name would be cut, so it is refused.
template <std::size_t N>
bool Fits(int length, char (&out)[N]) {
  if (length >= 0 && static_cast<std::size_t>(length) < N) return true;
  out[0] = '\0';
  return false;
}

template <std::size_t N>
bool Refuse(char (&out)[N]) {
  out[0] = '\0';
  return false;
}

}  // namespace

bool IsSafeNameComponent(const char* text, std::size_t maxLength) {
  const std::size_t n = strnlen(text, maxLength + 1);
  if (n == 0 || n > maxLength) return false;
  if (std::strcmp(text, ".") == 0 || std::strcmp(text, "..") == 0) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7f) return false;
  }
  return true;
}

bool TimeStreamFilePath(const char* tradingDay, char (&out)[kFilePathSize]) {
  if (!IsSafeNameComponent(tradingDay, kMaxDayLength)) return Refuse(out);
  return Fits(std::snprintf(out, sizeof(out), "%s/%s.csv", kTimeStreamDirectory, tradingDay), out);
}

bool DayDirectoryPath(const char* tradingDay, char (&out)[kDayDirectorySize]) {
  if (!IsSafeNameComponent(tradingDay, kMaxDayLength)) return Refuse(out);
  return Fits(std::snprintf(out, sizeof(out), "%s/%s", kDataDirectory, tradingDay), out);
}

bool ContractFilePath(const char* tradingDay, const char* contract, char (&out)[kFilePathSize]) {
  if (!IsSafeNameComponent(tradingDay, kMaxDayLength) || !IsSafeNameComponent(contract, kMaxContractLength)) {
    return Refuse(out);
  }
  return Fits(std::snprintf(out, sizeof(out), "%s/%s/%s.csv", kDataDirectory, tradingDay, contract), out);
}

void EnsureTimeStreamDirectory(FileEnv& env) {
  if (!env.Exists(kTimeStreamDirectory)) env.CreateDirectory(kTimeStreamDirectory);
}

void EnsureDayDirectory(FileEnv& env, const char* tradingDay) {
  char day[kDayDirectorySize];
  if (!DayDirectoryPath(tradingDay, day)) return;
  if (env.Exists(day)) return;
  if (!env.Exists(kDataDirectory)) env.CreateDirectory(kDataDirectory);
  env.CreateDirectory(day);
}

std::string HistoryDirectoryPath(const std::string& root) {
  return root.empty() ? std::string(kHistoryDirectory) : root + "/" + kHistoryDirectory;
}

std::string PackedDayPath(const std::string& root, const std::string& day) {
  return HistoryDirectoryPath(root) + "/" + day + ".qth";
}

bool IsPackedDayFileName(const std::string& name, std::string* day) {
  if (name.size() != 12 || name.compare(8, 4, ".qth") != 0) return false;
  if (!std::all_of(name.begin(), name.begin() + 8, [](char c) { return c >= '0' && c <= '9'; })) return false;
  if (day != nullptr) *day = name.substr(0, 8);
  return true;
}
