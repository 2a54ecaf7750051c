#include "replay/protocol/replay_message.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ReplayMessageTest, GreetingIsAllZero) {
  const ReplayMessageBytes bytes = EncodeReplayMessage(ZeroReplayMessage());
  EXPECT_EQ(bytes.size(), 217u);
  for (std::uint8_t b : bytes) EXPECT_EQ(b, 0);
}

TEST(ReplayMessageTest, TickMessageFieldsSitAtTheirOffsets) {
  ReplayMessage m = ZeroReplayMessage();
  m.LastPrice = 1.5;         // 0x3FF8000000000000
  m.AskPrice1 = -2.0;        // 0xC000000000000000
  m.Volume = 0x01020304;
  m.AskVolume1 = -1;
  SetReplayText(m.InstrumentID, "rb1710");
  SetReplayText(m.TradingDay, "20170901");
  SetReplayText(m.ActionDay, "20170831");
  SetReplayText(m.UpdateTime, "21:00:01");
  const ReplayMessageBytes b = EncodeReplayMessage(m);

  const std::uint8_t lastPrice[8] = {0, 0, 0, 0, 0, 0, 0xF8, 0x3F};
  EXPECT_EQ(std::memcmp(b.data(), lastPrice, 8), 0);
  EXPECT_EQ(b[112 + 7], 0xC0);
  const std::uint8_t volume[4] = {0x04, 0x03, 0x02, 0x01};
  EXPECT_EQ(std::memcmp(b.data() + 120, volume, 4), 0);
  for (int i = 132; i < 136; ++i) EXPECT_EQ(b[i], 0xFF) << i;
  for (int i = 136; i < 140; ++i) EXPECT_EQ(b[i], 0) << "Command byte " << i;
  EXPECT_EQ(std::memcmp(b.data() + 140, "rb1710", 6), 0);
  for (int i = 146; i < 171; ++i) EXPECT_EQ(b[i], 0) << "InstrumentID tail " << i;
  for (int i = 171; i < 189; ++i) EXPECT_EQ(b[i], 0) << "BeginTime/EndTime " << i;
  EXPECT_EQ(std::memcmp(b.data() + 189, "20170901", 9), 0);
  EXPECT_EQ(std::memcmp(b.data() + 198, "20170831", 9), 0);
  EXPECT_EQ(std::memcmp(b.data() + 207, "21:00:01", 9), 0);
  EXPECT_EQ(b[216], 0);

  ReplayMessage back;
  ASSERT_TRUE(DecodeReplayMessage(b.data(), b.size(), &back));
  EXPECT_EQ(std::memcmp(&back, &m, sizeof(m)), 0);
}

TEST(ReplayMessageTest, TextLongerThanItsFieldIsCut) {
  ReplayMessage m = ZeroReplayMessage();
  SetReplayText(m.UpdateTime, "21:00:01.500");
  EXPECT_EQ(ReplayText(m.UpdateTime), "21:00:01");
  EXPECT_EQ(m.UpdateTime[8], '\0');
}

TEST(ReplayRequestTest, DecodesStartRequest) {
  const ReplayMessageBytes b = EncodeReplayRequest(kReplayCommandStart, "IF2106", "20210601", "20210605");
  EXPECT_EQ(b[136], 0xE8);  // 1000 little-endian
  EXPECT_EQ(b[137], 0x03);
  ReplayRequest r;
  ASSERT_TRUE(DecodeReplayRequest(b.data(), b.size(), &r));
  EXPECT_EQ(r.command, 1000);
  EXPECT_EQ(r.instrument, "IF2106");
  EXPECT_EQ(r.beginTime, "20210601");
  EXPECT_EQ(r.endTime, "20210605");
}

TEST(ReplayRequestTest, FullWidthFieldsAreCut) {
  ReplayMessageBytes b = EncodeReplayRequest(1002, "", "", "");
  std::memset(b.data() + 140, 'A', 31);  // 31 characters, no NUL
  std::memset(b.data() + 171, '1', 9);   // BeginTime without a NUL
  ReplayRequest r;
  ASSERT_TRUE(DecodeReplayRequest(b.data(), b.size(), &r));
  EXPECT_EQ(r.command, 1002);
  EXPECT_EQ(r.instrument, std::string(30, 'A'));
  EXPECT_EQ(r.beginTime, "111111111");
}

TEST(ReplayRequestTest, ShortBodyIsNoRequest) {
  const ReplayMessageBytes b = EncodeReplayRequest(kReplayCommandStart, "rb1710", "20160101", "20160102");
  ReplayRequest r;
  r.command = 7;
  EXPECT_FALSE(DecodeReplayRequest(b.data(), 216, &r));
  EXPECT_FALSE(DecodeReplayRequest(b.data(), 0, &r));
  EXPECT_EQ(r.command, 7);
}

}  // namespace
