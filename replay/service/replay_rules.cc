#include "replay/service/replay_rules.h"

#include <chrono>
#include <climits>

namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

int ParseReplayDay(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) return negative ? INT_MIN : INT_MAX;
  }
  return static_cast<int>(negative ? -value : value);
}

int NextReplayDay(int day) {
  int year = day / 10000;
  int month = day / 100 - year * 100;
  int dayOfMonth = day - year * 10000 - month * 100 + 1;
  switch (month) {
    case 1: case 3: case 5: case 7: case 8: case 10:
      if (dayOfMonth > 31) {
        dayOfMonth = 1;
        ++month;
      }
      break;
    case 4: case 6: case 9: case 11:
      if (dayOfMonth > 30) {
        dayOfMonth = 1;
        ++month;
      }
      break;
    case 2:
      if (dayOfMonth > (std::chrono::year{year}.is_leap() ? 29 : 28)) {
        dayOfMonth = 1;
        month = 3;
      }
      break;
    case 12:
      if (dayOfMonth > 31) {
        dayOfMonth = 1;
        month = 1;
        ++year;
      }
      break;
    default:
      break;
  }
  return year * 10000 + month * 100 + dayOfMonth;
}

bool IsReplayDate(std::string_view text) {
  if (text.size() != 8) return false;
  for (char c : text)
    if (!IsDigit(c)) return false;
  const int month = (text[4] - '0') * 10 + (text[5] - '0');
  const int day = (text[6] - '0') * 10 + (text[7] - '0');
  return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

bool IsSafeContract(std::string_view contract) {
  if (contract.find("..") != std::string_view::npos) return false;
  for (char c : contract) {
    if (!IsLetter(c) && !IsDigit(c) && c != '-' && c != '_' && c != '&' && c != '.' && c != ' ') return false;
  }
  return true;
}
