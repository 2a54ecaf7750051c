#include "sessions/tick_classifier.h"

#include <gtest/gtest.h>

namespace {

const ProductHours* Hours(const char* product) { return FindProductHours(product); }

// The one rule every reader applies, on the moments a real week brings: the snapshot a front
// pushes on subscription, test data after the close, night ticks over a weekend.
TEST(TickClassifierTest, SessionStaleAndTestTicksOverAWeek) {
  struct Case {
    const char* product;
    int day;               // the trading day the collector filed the tick under
    const char* update;    // UpdateTime
    const char* stamp;     // write stamp
    TickKind kind;
  };
  const Case cases[] = {
      {"rb", 20240311, "21:00:01", "20240308210001", TickKind::kSession},  // Friday night for Monday
      {"rb", 20240311, "20:59:00", "20240308205903", TickKind::kSession},  // night auction
      {"rb", 20240311, "23:00:00", "20240308230004", TickKind::kSession},  // closing snapshot
      {"au", 20240311, "02:30:00", "20240309023001", TickKind::kSession},  // past midnight: Saturday
      {"rb", 20240311, "09:00:00", "20240311090000", TickKind::kSession},  // Monday, not the Saturday after the eve
      {"rb", 20240311, "15:00:00", "20240308203500", TickKind::kStale},    // Friday's close pushed at 20:35
      {"rb", 20240311, "23:00:00", "20240311083000", TickKind::kStale},    // the night's close pushed at 08:30
      {"rb", 20240311, "21:00:01", "20240308210600", TickKind::kStale},    // just over five minutes late
      {"rb", 20240311, "21:00:01", "20240308210500", TickKind::kSession},  // just within
      {"rb", 20240311, "10:20:00", "20240311102000", TickKind::kTest},     // in the 10:15 break
      {"rb", 20240311, "19:00:00", "20240311152000", TickKind::kTest},     // a counter's 19:00 stamp
      {"rb", 20240311, "99:99:99", "20240311152000", TickKind::kTest},
      {"rb", 20240311, "",         "20240311152000", TickKind::kTest},
      {"AP", 20240311, "21:30:00", "20240308213000", TickKind::kTest},     // no night for apples
      {"IF", 20240311, "09:29:00", "20240311092900", TickKind::kSession},  // index futures' auction
      {"T",  20240311, "15:15:00", "20240311151503", TickKind::kSession},  // bonds close at 15:15
      {"IF", 20240311, "15:15:00", "20240311151503", TickKind::kTest},
      {"rb", 20240311, "09:00:00", "not a stamp",    TickKind::kSession},  // nothing to compare with
      {"rb", 20240401, "21:00:00", "20240329210000", TickKind::kSession},  // Friday night across a month end
  };
  for (const Case& c : cases) {
    const TickClassifier classifier(Hours(c.product), c.day);
    EXPECT_EQ(classifier.Classify(c.update, c.stamp), c.kind)
        << c.product << " " << c.day << " " << c.update << " at " << c.stamp << ": got "
        << TickKindName(classifier.Classify(c.update, c.stamp));
  }
}

TEST(TickClassifierTest, TheToleranceIsSettableAndUnknownProductsAreJudgedOnArrival) {
  const TickClassifier tight(Hours("rb"), 20240311, 10);
  EXPECT_EQ(tight.Classify("09:00:00", "20240311090010"), TickKind::kSession);
  EXPECT_EQ(tight.Classify("09:00:00", "20240311090011"), TickKind::kStale);
  const TickClassifier unknown(nullptr, 20240312);
  EXPECT_EQ(unknown.Classify("19:00:00", "20240311190100"), TickKind::kSession);
  EXPECT_EQ(unknown.Classify("15:00:00", "20240311203500"), TickKind::kStale);
  EXPECT_EQ(unknown.Classify("25:00:00", "20240311190100"), TickKind::kTest);
}

TEST(TickClassifierTest, WriteStampsAreReadStrictly) {
  EXPECT_EQ(TickClassifier::StampSeconds("20240311090000") - TickClassifier::StampSeconds("20240308230000"),
            2 * 86400 + 10 * 3600);
  EXPECT_EQ(TickClassifier::StampSeconds("20240301000000") - TickClassifier::StampSeconds("20240229000000"), 86400);
  EXPECT_EQ(TickClassifier::StampSeconds("21000301000000") - TickClassifier::StampSeconds("21000228000000"), 86400);
  // The scale starts at 0000-03-01, so no date of year 0 on is negative and -1 stays "unknown".
  EXPECT_EQ(TickClassifier::LocalSeconds(301, 1), 1);
  EXPECT_EQ(TickClassifier::StampSeconds("19700101000000"), 719468LL * 86400);
  for (const char* bad : {"2024031109000", "202403110900000", "2024031109000x", "20241311090000", "20240311250000"}) {
    EXPECT_EQ(TickClassifier::StampSeconds(bad), -1) << bad;
  }
}

// Read one after another, stamps give what each gives alone, across minutes and around bad ones.
TEST(TickClassifierTest, TheStampReaderReadsAsStampSecondsDoes) {
  TickClassifier::StampReader reader;
  for (const char* stamp : {"20240311090000", "20240311090059", "20240311090060", "2024031109005x", "20240311090101",
                            "2024031109010", "20240311090101", "20240311090159", "20240311100159", "20240311090159",
                            "20240229235959", "20240301000000", "20241311090000", "20241311090001", "20240311090001"}) {
    EXPECT_EQ(reader.Seconds(stamp), TickClassifier::StampSeconds(stamp)) << stamp;
  }
}

}  // namespace
