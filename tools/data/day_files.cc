#include "tools/data/day_files.h"

#include <algorithm>
#include <charconv>
#include <system_error>

#include "core/contract_code.h"
#include "sessions/trading_day_rule.h"
#include "storage/journal_format.h"
#include "storage/storage_paths.h"

namespace fs = std::filesystem;

namespace {

// Ten years of days: enough for any real range, and a bound on the folders looked up.
constexpr int kMaxRangeDays = 3660;

}  // namespace

int ParseDayArgument(std::string_view text) {
  if (text.size() != 8) return 0;
  int day = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), day);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return 0;
  return IsCalendarDate(day) ? day : 0;
}

fs::path DayFolder(const fs::path& workdir, int day) { return workdir / "Data" / std::to_string(day); }

fs::path DayJournal(const fs::path& workdir, int day) {
  return JournalDayPath(workdir.string(), std::to_string(day));
}

fs::path DayPacked(const fs::path& workdir, int day) {
  return PackedDayPath(workdir.string(), std::to_string(day));
}

std::vector<int> ExpandDays(const std::vector<std::string>& days, const std::string& from, const std::string& to,
                            const fs::path& workdir, std::string* error) {
  std::vector<int> out;
  for (const std::string& text : days) {
    const int day = ParseDayArgument(text);
    if (day == 0) {
      *error = "'" + text + "' is not a day (yyyymmdd)";
      return {};
    }
    out.push_back(day);
  }
  if (!from.empty() || !to.empty()) {
    const int first = ParseDayArgument(from);
    const int last = ParseDayArgument(to);
    if (first == 0 || last == 0) {
      *error = "--from and --to take a day each (yyyymmdd)";
      return {};
    }
    if (first > last) {
      *error = "--from " + from + " comes after --to " + to;
      return {};
    }
    if (last > ShiftCalendarDate(first, kMaxRangeDays)) {
      *error = "a range of at most " + std::to_string(kMaxRangeDays) + " days, please";
      return {};
    }
    for (int day = first; day <= last; day = ShiftCalendarDate(day, 1)) {
      std::error_code ec;
      if (fs::is_directory(DayFolder(workdir, day), ec) || fs::exists(fs::symlink_status(DayJournal(workdir, day), ec)) ||
          fs::exists(fs::symlink_status(DayPacked(workdir, day), ec))) {
        out.push_back(day);
      }
    }
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  if (out.empty() && error->empty()) *error = "no day to work on";
  return out;
}

std::vector<int> LatestDays(const fs::path& workdir, int count, int lastDay) {
  std::vector<int> days;
  std::error_code ec;
  for (fs::directory_iterator it(workdir / "Data", ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const int day = ParseDayArgument(it->path().filename().string());
    if (day != 0 && day <= lastDay && it->is_directory(ec)) days.push_back(day);
  }
  std::sort(days.begin(), days.end());
  if (static_cast<int>(days.size()) > count) days.erase(days.begin(), days.end() - count);
  return days;
}

bool IsContractName(std::string_view name) {
  // Every code the collector stores (a combination code has a space), and the names older folders hold.
  if (IsContractCode(name)) return true;
  if (name.empty() || name.size() > 30 || name[0] == '.') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '&' || c == '.';
  });
}

bool ListContracts(const fs::path& workdir, int day, std::vector<std::string>* contracts, std::string* error) {
  const fs::path folder = DayFolder(workdir, day);
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) {
    *error = folder.string() + ": " + ec.message();
    return false;
  }
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    const fs::path& path = it->path();
    if (path.extension() != ".csv" || it->is_symlink(ec) || !it->is_regular_file(ec)) continue;
    const std::string stem = path.stem().string();
    if (IsContractName(stem)) contracts->push_back(stem);
  }
  if (ec) {
    *error = folder.string() + ": " + ec.message();
    return false;
  }
  std::sort(contracts->begin(), contracts->end());
  return true;
}

std::vector<int> LatestTradingDays(const MarketCalendar& calendar, int count, int lastDay, std::string* error) {
  std::vector<int> days;
  const std::optional<bool> trading = calendar.IsTradingDay(lastDay, error);
  if (!trading) return {};
  if (*trading) days.push_back(lastDay);
  int day = lastDay;
  while (static_cast<int>(days.size()) < count) {
    const std::optional<int> before = calendar.PreviousTradingDay(day, error);
    if (!before) return {};
    day = *before;
    days.push_back(day);
  }
  std::reverse(days.begin(), days.end());
  return days;
}
