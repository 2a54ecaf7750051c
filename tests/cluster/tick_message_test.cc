// The tick as a message: the exact record as its body, the stored line's checks, the id rule, the
// subject encoding and the filing day.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <ctime>
#include <random>
#include <string>

#include "cluster/exact_tick.h"
#include "cluster/filing_day.h"
#include "cluster/stored_tick_line.h"
#include "cluster/tick_id.h"
#include "cluster/tick_id_set.h"
#include "cluster/tick_subject.h"
#include "storage/tick_line.h"
#include "tests/support/tick_fixtures.h"

namespace {

const std::string kLine =
    "20240301090507,rb2405,20240301,20240301,09:05:07,500,3725,123456,3750,3700,3710,-1,37251.2,3726,15,3725,30,"
    "3950,3500,1.65432e+06,4.59877e+09,3720,1.65e+06,3722\r\n";

std::string Replace(std::string line, const std::string& from, const std::string& to) {
  return line.replace(line.find(from), from.size(), to);
}

TEST(StoredTickLineTest, AcceptsTheCollectorsLineAndNamesItsFields) {
  StoredTickLine line;
  ASSERT_TRUE(ParseStoredTickLine(kLine, &line));
  EXPECT_EQ(line.writeStamp(), "20240301090507");
  EXPECT_EQ(line.contract(), "rb2405");
  EXPECT_EQ(line.fields[23], "3722");
  EXPECT_EQ(line.exchangeContent(), kLine.substr(15, kLine.size() - 17));
}

TEST(StoredTickLineTest, RefusesWhatIsNotOneWholeTickLine) {
  const std::string cases[] = {
      "",
      kLine.substr(0, kLine.size() - 2),                    // no line end
      kLine.substr(0, kLine.size() - 2) + "\n",             // LF without CR
      kLine.substr(0, kLine.size() / 2),                    // cut in the middle
      kLine + kLine,                                        // two lines
      Replace(kLine, ",3722\r", "\r"),                      // 23 fields
      Replace(kLine, ",3722\r", ",3722,1\r"),               // 25 fields
      Replace(kLine, "20240301090507", "2024030109050"),    // short stamp
      Replace(kLine, "20240301090507", "2024030109050x"),   // stamp not digits
      Replace(kLine, "rb2405", ""),                         // no contract
      Replace(kLine, "rb2405", "rb\x01" "2405"),            // control character
      Replace(kLine, "rb2405", std::string(31, 'a')),       // code longer than the record holds
      Replace(kLine, ",500,", ",5x0,"),                     // int field
      Replace(kLine, ",500,", ",99999999999,"),             // int out of range
      Replace(kLine, ",3725,123456,", ",37z5,123456,"),     // double field
      Replace(kLine, ",3725,123456,", ",,123456,"),         // empty double
      Replace(kLine, ",3725,123456,", ",0x1p3,123456,"),    // hex float
      Replace(kLine, ",09:05:07,", ",09:05:07:00,"),        // update time too long
      Replace(kLine, "3722\r\n", "3722\r\r\n"),             // stray CR
      Replace(kLine, "3722\r\n", std::string(5000, '1') + "\r\n"),
  };
  for (const std::string& text : cases) {
    StoredTickLine line;
    EXPECT_FALSE(ParseStoredTickLine(text, &line)) << text;
  }
}

TEST(StoredTickLineTest, AcceptsNotANumberAndInfinityAsTheCollectorWritesThem) {
  StoredTickLine line;
  EXPECT_TRUE(ParseStoredTickLine(Replace(kLine, ",37251.2,", ",-nan,"), &line));
  EXPECT_TRUE(ParseStoredTickLine(Replace(kLine, ",37251.2,", ",inf,"), &line));
  EXPECT_TRUE(ParseStoredTickLine(Replace(kLine, ",3726,15,", ",1.79769e+308,15,"), &line));
}

TEST(StoredTickLineTest, FixedStyleLineMatchesThePerContractFileWhereSixDigitsHoldTheValue) {
  TickRecord record = ExampleRb2405Record();
  record.AveragePrice = 37251.2;
  record.Turnover = 4.59877e9;
  record.OpenInterest = 1654320;
  record.AskPrice1 = DBL_MAX;  // the vendor's not-set marker survives the general style
  char general[kTickLineSize];
  char fixed[kTickLineSize];
  const std::size_t g = BuildTickLine(record, "20240301090507", NumberStyle::kGeneral, general);
  const std::size_t f = BuildTickLine(record, "20240301090507", NumberStyle::kFixed, fixed);
  StoredTickLine line;
  ASSERT_TRUE(ParseStoredTickLine(std::string_view(general, g), &line));
  EXPECT_EQ(FixedStyleLine(line), std::string(fixed, f));
}

// The body is the record itself: it reads back bit for bit, and anything else is refused with the reason.
TEST(TickBodyTest, TheRecordReadsBackExactlyAndAnythingElseIsRefused) {
  JournalEntry entry;
  entry.sequence = 7;
  entry.writeTimeNs = 1709255107123456789;
  entry.tick = ExampleRb2405Record();
  entry.tick.LastPrice = 92.005;
  entry.tick.Turnover = 4598765432.5;
  std::string body;
  EncodeTickBody(entry, &body);
  ASSERT_EQ(body.size(), kTickBodySize);
  JournalEntry back;
  std::string why;
  ASSERT_TRUE(DecodeTickBody(body, &back, &why)) << why;
  EXPECT_EQ(back.sequence, 7u);
  EXPECT_EQ(back.writeTimeNs, entry.writeTimeNs);
  EXPECT_EQ(std::memcmp(&back.tick.LastPrice, &entry.tick.LastPrice, sizeof(double)), 0);
  EXPECT_EQ(back.tick.Turnover, 4598765432.5);

  // A record of journal version 1, as an older publisher sends it, is read too, without an arrival.
  unsigned char v1[kJournalRecordSizeV1];
  entry.arrivalTimeNs = 99;
  EncodeJournalRecord(entry, 1, v1);
  ASSERT_TRUE(DecodeTickBody(std::string_view(reinterpret_cast<const char*>(v1), sizeof v1), &back, &why)) << why;
  EXPECT_EQ(back.sequence, 7u);
  EXPECT_EQ(back.arrivalTimeNs, 0);
  EXPECT_EQ(back.tick.Turnover, 4598765432.5);

  std::string flipped = body;
  flipped[200] ^= 0x10;
  const std::string cases[] = {"", body.substr(1), body + "x", flipped, kLine};
  for (const std::string& bad : cases) {
    EXPECT_FALSE(DecodeTickBody(bad, &back, &why)) << bad.size();
    EXPECT_FALSE(why.empty());
  }
}

// The id of a record is the id of the line a collector writes for it, so ids of lines already
// stored, and of every collector of the feed, agree; the lines carry the collector's write stamp.
TEST(TickBodyTest, LinesAndIdOfARecordAreTheCollectorsOnes) {
  JournalEntry entry;
  entry.tick = ExampleRb2405Record();
  std::tm t{};
  t.tm_year = 124, t.tm_mon = 2, t.tm_mday = 1, t.tm_hour = 21, t.tm_min = 5, t.tm_sec = 7, t.tm_isdst = -1;
  entry.writeTimeNs = static_cast<std::int64_t>(std::mktime(&t)) * 1000000000 + 999999999;
  ExactTickLines lines;
  BuildExactTickLines(entry, &lines);
  EXPECT_STREQ(lines.stamp, "20240301210507");
  EXPECT_EQ(lines.day, "20240304");  // Friday evening: Monday
  char general[kTickLineSize], fixed[kTickLineSize];
  EXPECT_EQ(lines.generalLine(), std::string_view(general, BuildTickLine(entry.tick, lines.stamp, NumberStyle::kGeneral, general)));
  EXPECT_EQ(lines.fixedLine(), std::string_view(fixed, BuildTickLine(entry.tick, lines.stamp, NumberStyle::kFixed, fixed)));
  StoredTickLine line;
  ASSERT_TRUE(ParseStoredTickLine(lines.generalLine(), &line));
  EXPECT_EQ(TickIdOfRecord(entry.tick), TickIdOf(line));
  EXPECT_EQ(lines.exchangeContent(), line.exchangeContent());
}

TEST(TickIdTest, SameExchangeContentGivesTheSameIdWhateverTheWriteStamp) {
  StoredTickLine a, b;
  const std::string other = Replace(kLine, "20240301090507", "20240301090509");
  ASSERT_TRUE(ParseStoredTickLine(kLine, &a));
  ASSERT_TRUE(ParseStoredTickLine(other, &b));
  EXPECT_EQ(TickIdOf(a), TickIdOf(b));
  EXPECT_EQ(TickIdOf(a).Text().size(), 32u);
  EXPECT_EQ(TickIdOf(a).Text(), TickIdOf(b).Text());
}

TEST(TickIdTest, AnyExchangeFieldChangesTheId) {
  StoredTickLine base;
  ASSERT_TRUE(ParseStoredTickLine(kLine, &base));
  for (std::size_t i = 1; i < StoredTickLine::kFieldCount; ++i) {
    std::string changed;
    for (std::size_t j = 0; j < StoredTickLine::kFieldCount; ++j) {
      if (j > 0) changed += ',';
      std::string field(base.fields[j]);
      if (j == i) field.back() = field.back() >= '0' && field.back() <= '8' ? field.back() + 1 : '0';
      changed += field;
    }
    changed += "\r\n";
    StoredTickLine line;
    ASSERT_TRUE(ParseStoredTickLine(changed, &line)) << changed;
    EXPECT_NE(TickIdOf(line), TickIdOf(base)) << "field " << i + 1;
  }
}

TEST(TickIdSetTest, HoldsEveryInsertedIdOnceAcrossGrowth) {
  TickIdSet set;
  std::mt19937_64 random(7);
  std::vector<TickId> ids;
  for (int i = 0; i < 50000; ++i) ids.push_back(TickId{random(), random()});
  ids.push_back(TickId{0, 0});
  for (const TickId& id : ids) EXPECT_TRUE(set.Insert(id));
  for (const TickId& id : ids) EXPECT_TRUE(set.Contains(id));
  EXPECT_FALSE(set.Insert(ids[123]));
  EXPECT_FALSE(set.Contains(TickId{1, 2}));
  EXPECT_EQ(set.size(), ids.size());
}

TEST(TickSubjectTest, ProductAndContractTokens) {
  struct Case {
    const char* contract;
    const char* subject;
  } cases[] = {
      {"rb2405", "quoteloom.tick.rb.rb2405"},
      {"SR405", "quoteloom.tick.SR.SR405"},
      {"IO2403-C-3800", "quoteloom.tick.IO.IO2403-C-3800"},
      {"IO2403.C*3800>", "quoteloom.tick.IO.IO2403%2EC%2A3800%3E"},
      {"a b\t%", "quoteloom.tick.a.a%20b%09%25"},
      {"2405", "quoteloom.tick._.2405"},
      {"\xe9\x93\x9c" "2405", "quoteloom.tick._.%E9%93%9C2405"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TickSubject("quoteloom.tick", c.contract), c.subject) << c.contract;
  }
}

TEST(TickSubjectTest, EncodingIsReversibleForAnyBytes) {
  std::mt19937 random(11);
  for (int round = 0; round < 2000; ++round) {
    std::string raw(1 + random() % 12, '\0');
    for (char& c : raw) c = static_cast<char>(random() % 256);
    const std::string token = EncodeSubjectToken(raw);
    EXPECT_EQ(token.find_first_of(". *>\t\r\n"), std::string::npos);
    const auto back = DecodeSubjectToken(token);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, raw);
  }
  for (const char* bad : {"", "a%2", "a%zz", "a.b", "%41"}) EXPECT_FALSE(DecodeSubjectToken(bad).has_value()) << bad;
}

TEST(FilingDayTest, TheCollectorsRuleOnTheWriteStamp) {
  struct Case {
    const char* stamp;
    int shift;
    const char* day;
  } cases[] = {
      {"20240301175959", 0, "20240301"},  // Friday before 18:00
      {"20240301180000", 0, "20240304"},  // Friday evening: Monday
      {"20240302013000", 0, "20240304"},  // Saturday night
      {"20240302180000", 0, "20240303"},  // Saturday evening: Sunday
      {"20240228210000", 0, "20240229"},
      {"20211231210000", 0, "20220103"},
      {"20240301175500", 600, "20240304"},
      {"20240304180500", -600, "20240304"},
      {"21000228200000", 0, "21000301"},  // Sunday evening of a February without a 29th
      {"20240301175960", 0, "20240304"},  // a leap second at 17:59:60 is already 18:00
      {"20241301000000", 0, ""},
      {"2024030100000x", 0, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(FilingDayOfStamp(c.stamp, c.shift), c.day) << c.stamp;
}

}  // namespace
