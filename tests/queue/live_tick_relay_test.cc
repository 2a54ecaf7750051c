#include "queue/live_tick_relay.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

namespace {

TickRecord Tick(const char* instrument, int volume = 0) {
  TickRecord r;
  ClearTickRecord(&r);
  std::snprintf(r.InstrumentID, sizeof(r.InstrumentID), "%s", instrument);
  r.Volume = volume;
  r.Filled = 1;
  return r;
}

TEST(LiveTickRelayTest, NothingIsForwardedWhileInactive) {
  LiveTickRelay relay;
  relay.Forward(Tick(""));
  relay.Forward(Tick("IF2106"));
  EXPECT_EQ(relay.BufferSize(), 0u);
}

TEST(LiveTickRelayTest, OnlyTheSelectedContractIsForwardedAfterOneReset) {
  LiveTickRelay relay;
  relay.Select("IF2106");
  EXPECT_TRUE(relay.active());
  relay.Forward(Tick("IF2106", 1));
  relay.Forward(Tick("IF2106", 2));
  relay.Select("IF2106");  // a new start request: old records go with the next match
  relay.Forward(Tick("IF2107", 3));
  relay.Forward(Tick("if2106", 4));
  relay.Forward(Tick("IF21061", 5));
  EXPECT_EQ(relay.BufferSize(), 2u);
  relay.Forward(Tick("IF2106", 6));
  relay.Forward(Tick("IF2106", 7));
  TickRecord out;
  ASSERT_TRUE(relay.Take(&out));
  EXPECT_EQ(out.Volume, 6);
  ASSERT_TRUE(relay.Take(&out));
  EXPECT_EQ(out.Volume, 7);
  EXPECT_FALSE(relay.Take(&out));
}

TEST(LiveTickRelayTest, StopKeepsTheBufferAndCloseEmptiesIt) {
  LiveTickRelay relay;
  relay.Select("rb2405");
  relay.Forward(Tick("rb2405"));
  relay.EndForwarding();
  relay.Forward(Tick("rb2405"));
  EXPECT_FALSE(relay.active());
  EXPECT_EQ(relay.BufferSize(), 1u);
  relay.Empty();
  EXPECT_EQ(relay.BufferSize(), 0u);
}

TEST(LiveTickRelayTest, TakeFromEmptyBufferLeavesTheRecordUnchanged) {
  LiveTickRelay relay;
  TickRecord out = Tick("keep", 42);
  EXPECT_FALSE(relay.Take(&out));
  EXPECT_STREQ(out.InstrumentID, "keep");
  EXPECT_EQ(out.Volume, 42);
}

TEST(LiveTickRelayTest, SelectionKeepsThirtyCharacters) {
  LiveTickRelay relay;
  const std::string code(31, 'Z');
  relay.Select(code.c_str());
  EXPECT_EQ(relay.SelectedContract(), std::string(30, 'Z'));
  relay.Forward(Tick(std::string(30, 'Z').c_str()));
  EXPECT_EQ(relay.BufferSize(), 1u);
}

// Start requests race with the forwarding thread: a tick is forwarded only under a contract that was
// really selected, never under a mix of two codes written at once.
TEST(LiveTickRelayTest, ForwardingRacingWithStartRequestsNeverMatchesAHalfWrittenCode) {
  const std::string a(30, 'A'), b(30, 'B');
  const std::string mixed = std::string(8, 'A') + std::string(22, 'B');
  LiveTickRelay relay;
  relay.Select(a.c_str());
  std::atomic<bool> done{false};
  std::thread selector([&] {
    for (int i = 0; i < 20000; ++i) relay.Select((i % 2 ? a : b).c_str());
    done = true;
  });
  long forwarded = 0;
  // Rounds go on while the selector writes and for a while after, when the selection holds still:
  // a reader overlapping every write may see none match, but a settled selection always matches.
  int settledRounds = 0;
  for (int round = 0; settledRounds < 100 || round < 2000; ++round) {
    if (done) ++settledRounds;
    relay.Forward(Tick(mixed.c_str()));
    relay.Forward(Tick(a.c_str()));
    relay.Forward(Tick(b.c_str()));
    TickRecord out;
    while (relay.Take(&out)) {
      ASSERT_TRUE(out.InstrumentID == a || out.InstrumentID == b) << out.InstrumentID;
      ++forwarded;
    }
  }
  selector.join();
  EXPECT_GT(forwarded, 0);
}

}  // namespace
