// Sends made-up ticks from a producer thread through the writer queue to a consumer thread and
// reports what arrived, with the log lines on the console.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "core/console_log_presenter.h"
#include "core/log_sink.h"
#include "queue/live_tick_relay.h"
#include "queue/ring_queue_api.h"

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 20000;
  ConsoleLogPresenter console;
  TheLogSink().Attach(&console);

  CTRingQueueApi* queue = CTRingQueueApi::CreateFtdcCTRingQueueApi();
  queue->InitQueue(4096);
  LiveTickRelay relay;
  relay.Select("rb2405");

  const auto start = std::chrono::steady_clock::now();
  std::thread producer([&] {
    for (int i = 0; i < count; ++i) {
      CThostFtdcDepthMarketDataField in;
      std::memset(&in, 0, sizeof(in));
      std::snprintf(in.InstrumentID, sizeof(in.InstrumentID), i % 2 ? "rb2405" : "IF2406");
      in.LastPrice = 3700 + i % 50;
      in.ClosePrice = 1.7976931348623157e308;
      in.Volume = i;
      TickRecord record;
      BuildTickRecord(&in, &record);
      queue->Push(&record);
      relay.Forward(record);
      if (i % 5000 == 0) AppendLineF(LogTab::MarketData, "%s[%0.02lf]", record.InstrumentID, record.LastPrice);
    }
  });
  int received = 0;
  while (received < count) {
    TickRecord out;
    ClearTickRecord(&out);
    queue->Pop(&out);
    if (out.Filled == 1) ++received;
  }
  producer.join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  AppendLineF(LogTab::CtpLog, "%d ticks through the writer queue in %.3f s (%.0f per second); %zu in the live buffer",
              received, seconds, received / seconds, relay.BufferSize());
  TheLogSink().Detach(&console);
  return 0;
}
