// Where quoteloomd's log lines go: messages to one stream, tick samples to the other or nowhere.
#include "daemon/daemon_log_presenter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// A stream whose text can be read back after it is closed.
struct MemoryStream {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* file = open_memstream(&data, &size);
  std::string Text() {
    std::fflush(file);
    return std::string(data, size);
  }
  ~MemoryStream() {
    std::fclose(file);
    std::free(data);
  }
};

TEST(DaemonLogPresenterTest, TellsTickSamplesFromTheTabsOtherLines) {
  struct Case {
    const char* line;
    bool sample;
  };
  const Case cases[] = {
      {"rb2405[3650.00][3700.00][3600.00]", true},
      {"IF2403[-1.50][1e+300][0.00]", true},
      {"a[inf][nan][0.00]", true},
      {"当前时间0.2200 在禁止时间段[0.0300]~[0.0840] [0.1530]~[0.2040]内", false},
      {"[3650.00][3700.00][3600.00]", false},
      {"rb2405[3650.00][3700.00]", false},
      {"rb2405[3650.00][3700.00][3600.00]x", false},
      {"rb2405[365 0][3700.00][3600.00]", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(DaemonLogPresenter::IsTickSample(c.line), c.sample) << c.line;
}

TEST(DaemonLogPresenterTest, QuietDropsOnlyTheSamplesAndLoudSendsThemToTheTickStream) {
  for (const bool quiet : {true, false}) {
    MemoryStream messages, ticks;
    DaemonLogPresenter presenter(messages.file, ticks.file, quiet);
    presenter.OnLineAppended(LogTab::MarketData, "rb2405[3650.00][3700.00][3600.00]");
    presenter.OnLineAppended(LogTab::MarketData, "当前时间0.2200 在禁止时间段[0.0300]~[0.0840] [0.1530]~[0.2040]内");
    presenter.OnLineAppended(LogTab::CtpLog, "行情登录成功");
    EXPECT_EQ(messages.Text(),
              "[行情数据] 当前时间0.2200 在禁止时间段[0.0300]~[0.0840] [0.1530]~[0.2040]内\n[CTP日志] 行情登录成功\n");
    EXPECT_EQ(ticks.Text(), quiet ? "" : "[行情数据] rb2405[3650.00][3700.00][3600.00]\n");
  }
}

}  // namespace
