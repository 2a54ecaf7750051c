#include "daemon/daemon_log_presenter.h"

bool DaemonLogPresenter::IsTickSample(const std::string& line) {
  // A code without brackets, then exactly three bracketed numbers ending the line.
  const std::size_t open = line.find('[');
  if (open == 0 || open == std::string::npos) return false;
  std::size_t pos = open;
  for (int field = 0; field < 3; ++field) {
    if (pos >= line.size() || line[pos] != '[') return false;
    const std::size_t close = line.find(']', pos);
    if (close == std::string::npos) return false;
    if (line.find_first_not_of("0123456789.-+eEinfaINFA", pos + 1) != close) return false;
    pos = close + 1;
  }
  return pos == line.size();
}

void DaemonLogPresenter::OnLineAppended(LogTab tab, const std::string& line) {
  std::FILE* out = messages_;
  if (tab == LogTab::MarketData && IsTickSample(line)) {
    if (quietTicks_) return;
    out = ticks_;
  }
  std::fprintf(out, "[%s] %s\n", LogTabLabel(tab), line.c_str());
  std::fflush(out);
}
