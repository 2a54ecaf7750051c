#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>

#include "platform/ctp/standin/front_address.h"
#include "platform/ctp/standin/vendor_records.h"
#include "platform/ctp/wire/frame_decoder.h"
#include "platform/ctp/wire/front_message.h"

namespace {

FrontDepthMarketData SampleTick() {
  FrontDepthMarketData tick{};
  std::strcpy(tick.TradingDay, "20240301");
  std::strcpy(tick.InstrumentID, "rb2405");
  std::strcpy(tick.ExchangeID, "SHFE");
  std::strcpy(tick.ExchangeInstID, "rb2405");
  std::strcpy(tick.UpdateTime, "09:05:07");
  std::strcpy(tick.ActionDay, "20240301");
  tick.LastPrice = 3725;
  tick.Volume = 123456;
  tick.ClosePrice = DBL_MAX;
  tick.OpenPrice = std::nan("");
  tick.UpdateMillisec = 500;
  tick.AskPrice5 = 3730;
  tick.AskVolume5 = 9;
  tick.AveragePrice = 37251.2345;
  return tick;
}

TEST(FrontWireTest, DepthRecordSurvivesTheWireFieldForField) {
  FrontDepthMarketData sent = SampleTick();
  std::string frame;
  AppendDepthMarketData(frame, sent);
  ASSERT_EQ(frame.size(), kFrameHeaderSize + 470);
  FrameDecoder decoder;
  decoder.Append(frame.data(), frame.size());
  FrontMessageType type;
  std::string_view payload;
  ASSERT_EQ(decoder.Next(&type, &payload), FrameDecoder::Result::kFrame);
  EXPECT_EQ(type, FrontMessageType::kDepthMarketData);
  FrontDepthMarketData got;
  ASSERT_TRUE(DecodeDepthMarketData(payload, &got));
  EXPECT_STREQ(got.InstrumentID, "rb2405");
  EXPECT_STREQ(got.UpdateTime, "09:05:07");
  EXPECT_STREQ(got.ActionDay, "20240301");
  EXPECT_EQ(got.LastPrice, 3725);
  EXPECT_EQ(got.Volume, 123456);
  EXPECT_EQ(got.ClosePrice, DBL_MAX);
  EXPECT_TRUE(std::isnan(got.OpenPrice));
  EXPECT_EQ(got.UpdateMillisec, 500);
  EXPECT_EQ(got.AskPrice5, 3730);
  EXPECT_EQ(got.AskVolume5, 9);
  EXPECT_EQ(got.AveragePrice, 37251.2345);
  // A payload one byte short or long is refused.
  EXPECT_FALSE(DecodeDepthMarketData(payload.substr(0, payload.size() - 1), &got));
  EXPECT_FALSE(DecodeDepthMarketData(std::string(payload) + "x", &got));
}

TEST(FrontWireTest, FramesSplitAnywhereOrMergedComeOutWhole) {
  std::string stream;
  LoginRequest login;
  login.request_id = 7;
  std::strcpy(login.field.BrokerID, "9999");
  std::strcpy(login.field.UserID, "alice");
  std::strcpy(login.field.Password, "secret");
  AppendLoginRequest(stream, login);
  AppendHeartbeat(stream);
  AppendCodes(stream, FrontMessageType::kSubscribe, {"rb2106", "AP106"});
  for (std::size_t piece : {std::size_t{1}, std::size_t{3}, stream.size()}) {
    FrameDecoder decoder;
    std::vector<FrontMessageType> types;
    LoginRequest got_login;
    std::vector<std::string> codes;
    bool final_frame = false;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
      decoder.Append(stream.data() + at, std::min(piece, stream.size() - at));
      FrontMessageType type;
      std::string_view payload;
      while (decoder.Next(&type, &payload) == FrameDecoder::Result::kFrame) {
        types.push_back(type);
        if (type == FrontMessageType::kLogin) {
          ASSERT_TRUE(DecodeLoginRequest(payload, &got_login));
        }
        if (type == FrontMessageType::kSubscribe) {
          ASSERT_TRUE(DecodeCodes(payload, &codes, &final_frame));
        }
      }
    }
    std::vector<FrontMessageType> expected = {FrontMessageType::kLogin, FrontMessageType::kHeartbeat,
                                              FrontMessageType::kSubscribe};
    EXPECT_EQ(types, expected) << "pieces of " << piece;
    EXPECT_EQ(got_login.request_id, 7);
    EXPECT_STREQ(got_login.field.Password, "secret");
    EXPECT_EQ(codes, (std::vector<std::string>{"rb2106", "AP106"}));
    EXPECT_TRUE(final_frame);
    EXPECT_EQ(decoder.buffered(), 0u);
  }
}

TEST(FrontWireTest, OversizedLengthIsBad) {
  FrameDecoder decoder;
  const char header[] = {'\x01', '\x00', '\x01', '\x00', '\x86'};  // 65537 bytes announced
  decoder.Append(header, sizeof header);
  FrontMessageType type;
  std::string_view payload;
  EXPECT_EQ(decoder.Next(&type, &payload), FrameDecoder::Result::kBad);
}

TEST(FrontWireTest, RepliesKeepErrorTextsAndFlags) {
  std::string stream;
  LoginReply login;
  login.request_id = 3;
  login.info.ErrorID = 3;
  std::strcpy(login.info.ErrorMsg, "CTP:\xB2\xBB\xBA\xCF\xB7\xA8\xB5\xC4\xB5\xC7\xC2\xBC");
  std::strcpy(login.field.TradingDay, "20210603");
  login.field.SessionID = 42;
  AppendLoginReply(stream, login);
  SubscriptionReply sub;
  std::strcpy(sub.instrument.InstrumentID, "IF2106");
  sub.is_last = true;
  AppendSubscriptionReply(stream, FrontMessageType::kUnsubscribeReply, sub);

  FrameDecoder decoder;
  decoder.Append(stream.data(), stream.size());
  FrontMessageType type;
  std::string_view payload;
  ASSERT_EQ(decoder.Next(&type, &payload), FrameDecoder::Result::kFrame);
  LoginReply got_login;
  ASSERT_TRUE(DecodeLoginReply(payload, &got_login));
  EXPECT_EQ(got_login.request_id, 3);
  EXPECT_EQ(got_login.info.ErrorID, 3);
  EXPECT_STREQ(got_login.info.ErrorMsg, login.info.ErrorMsg);
  EXPECT_STREQ(got_login.field.TradingDay, "20210603");
  EXPECT_EQ(got_login.field.SessionID, 42);
  ASSERT_EQ(decoder.Next(&type, &payload), FrameDecoder::Result::kFrame);
  EXPECT_EQ(type, FrontMessageType::kUnsubscribeReply);
  SubscriptionReply got_sub;
  ASSERT_TRUE(DecodeSubscriptionReply(payload, &got_sub));
  EXPECT_STREQ(got_sub.instrument.InstrumentID, "IF2106");
  EXPECT_TRUE(got_sub.is_last);
  EXPECT_EQ(decoder.Next(&type, &payload), FrameDecoder::Result::kNeedMore);
}

TEST(FrontWireTest, LongCodeListsSpanFramesAndOnlyTheLastIsFinal) {
  std::vector<std::string> codes(kMaxCodesPerFrame + 2, "rb2106");
  codes.back() = std::string(90, 'x');
  std::vector<std::string_view> views(codes.begin(), codes.end());
  std::string stream;
  AppendCodes(stream, FrontMessageType::kSubscribe, views);
  FrameDecoder decoder;
  decoder.Append(stream.data(), stream.size());
  FrontMessageType type;
  std::string_view payload;
  std::vector<std::string> got, all;
  std::vector<bool> finals;
  while (decoder.Next(&type, &payload) == FrameDecoder::Result::kFrame) {
    bool final_frame = false;
    ASSERT_TRUE(DecodeCodes(payload, &got, &final_frame));
    finals.push_back(final_frame);
    all.insert(all.end(), got.begin(), got.end());
  }
  EXPECT_EQ(finals, (std::vector<bool>{false, true}));
  ASSERT_EQ(all.size(), codes.size());
  EXPECT_EQ(all.back(), std::string(80, 'x'));  // cut to the field's width
  // A count that promises more codes than the payload holds.
  std::string short_frame;
  AppendCodes(short_frame, FrontMessageType::kSubscribe, {"rb2106"});
  std::string lying(short_frame.substr(kFrameHeaderSize));
  lying[0] = 2;
  bool final_frame = false;
  EXPECT_FALSE(DecodeCodes(lying, &got, &final_frame));
}

// The stand-in fills the vendor record of its layout family by field name; a code the family's field
// cannot hold arrives filling it to the last byte, never cut to a shorter, valid-looking code.
TEST(FrontWireTest, TheStandInHandsOverCodesInTheFamilysCodeField) {
  FrontDepthMarketData tick = SampleTick();
  tick.BandingUpperPrice = 3900;
  CThostFtdcDepthMarketDataField vendor;
  ToVendor(tick, &vendor);
  EXPECT_STREQ(vendor.InstrumentID, "rb2405");
  EXPECT_EQ(vendor.LastPrice, 3725);
  EXPECT_STREQ(vendor.ActionDay, "20240301");
#if QUOTELOOM_CTP_FAMILY >= 60601
  EXPECT_EQ(vendor.BandingUpperPrice, 3900);
#endif

  std::memset(tick.InstrumentID, 'A', sizeof(tick.InstrumentID) - 1);
  ToVendor(tick, &vendor);
  const std::size_t held = strnlen(vendor.InstrumentID, sizeof(vendor.InstrumentID));
  if (sizeof(vendor.InstrumentID) >= sizeof(tick.InstrumentID)) {
    EXPECT_EQ(held, sizeof(tick.InstrumentID) - 1);  // the wide field holds all 80 characters
  } else {
    EXPECT_EQ(held, sizeof(vendor.InstrumentID));  // full, unterminated
  }
}

TEST(FrontAddressTest, ParsesTcpAddresses) {
  struct Case {
    const char* text;
    bool ok;
    const char* host;
    unsigned short port;
  };
  const Case cases[] = {
      {"tcp://127.0.0.1:41213", true, "127.0.0.1", 41213},
      {"tcp://localhost:1", true, "localhost", 1},
      {"tcp://[::1]:7000", true, "::1", 7000},
      {"udp://127.0.0.1:41213", false, "", 0},
      {"tcp://127.0.0.1", false, "", 0},
      {"tcp://:41213", false, "", 0},
      {"tcp://127.0.0.1:0", false, "", 0},
      {"tcp://127.0.0.1:65536", false, "", 0},
      {"tcp://127.0.0.1:12a", false, "", 0},
      {"", false, "", 0},
  };
  for (const Case& c : cases) {
    FrontAddress address;
    ASSERT_EQ(ParseFrontAddress(c.text, &address), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(address.host, c.host);
    EXPECT_EQ(address.port, c.port);
  }
}

}  // namespace
