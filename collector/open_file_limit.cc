#include "collector/open_file_limit.h"

#include <sys/resource.h>

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "core/errno_text.h"
#include "core/open_regular_file.h"
#include "core/string_printf.h"

namespace {

// Linux refuses a soft limit above fs.nr_open, which an unlimited hard limit exceeds.
rlim_t HighestAllowed(rlim_t hard) {
  if (hard != RLIM_INFINITY) return hard;
  rlim_t nrOpen = 0;
  int error = 0;
  if (std::FILE* f = OpenRegularStream("/proc/sys/fs/nr_open", O_RDONLY, "r", &error)) {
    unsigned long long value = 0;
    if (std::fscanf(f, "%llu", &value) == 1) nrOpen = static_cast<rlim_t>(value);
    std::fclose(f);
  }
  return nrOpen > 0 ? nrOpen : hard;
}

}  // namespace

bool RaiseOpenFileLimit(std::string* message) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
    *message = StringPrintf("打开文件数上限读取失败[%s]", ErrnoText(errno).c_str());
    return false;
  }
  const rlim_t target = HighestAllowed(limit.rlim_max);
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= target) return true;
  const rlim_t before = limit.rlim_cur;
  limit.rlim_cur = target;
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
    *message = StringPrintf("打开文件数上限未能从%" PRIu64 "提高到%" PRIu64 "[%s]", static_cast<std::uint64_t>(before),
                            static_cast<std::uint64_t>(target), ErrnoText(errno).c_str());
    return false;
  }
  return true;
}
