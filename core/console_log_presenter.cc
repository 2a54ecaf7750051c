#include "core/console_log_presenter.h"

void ConsoleLogPresenter::OnLineAppended(LogTab tab, const std::string& line) {
  std::fprintf(out_, "[%s] %s\n", LogTabLabel(tab), line.c_str());
  std::fflush(out_);
}
