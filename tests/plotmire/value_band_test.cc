#include "plotmire/value_band.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(ValueBandTest, ARangeLandsOnItsBandOfThePlotHeight) {
  const ValueBand band{3700, 3800, 0.3, 1.0};
  EXPECT_DOUBLE_EQ(band.At(3700), 0.3);
  EXPECT_DOUBLE_EQ(band.At(3800), 1.0);
  const auto [low, high] = band.AxisRange();
  // An axis over the whole height puts every value where the band says.
  for (double v : {3700.0, 3725.0, 3800.0}) EXPECT_NEAR((v - low) / (high - low), band.At(v), 1e-12) << v;

  const ValueBand flat = ValueBand::Padded(3725, 3725, 0.05, 0, 1);
  EXPECT_LT(flat.low, 3725);
  EXPECT_GT(flat.high, 3725);
  EXPECT_DOUBLE_EQ(ValueBand::Padded(0, 100, 0.1, 0, 0.25, 0).low, 0) << "a volume scale starts at 0";
}

TEST(ValueBandTest, LabelsAreRoundDistinctAndInsideTheBand) {
  struct Case {
    double low;
    double high;
    int decimals;
    double reference;
  };
  const std::vector<Case> cases = {
      {3695, 3782, 0, NAN}, {3725, 3725.4, 0, NAN}, {480.12, 482.9, 2, NAN}, {3695, 3782, 2, 3722}, {0, 730, 0, NAN}};
  for (const Case& c : cases) {
    const ValueBand band{c.low, c.high, 0.3, 1.0};
    const auto labels = band.RoundLabels(6, c.decimals, c.reference);
    ASSERT_FALSE(labels.empty()) << c.low;
    std::set<QString> texts;
    for (const auto& [at, text] : labels) {
      EXPECT_GE(at, 0.3 - 1e-9) << text.toStdString();
      EXPECT_LE(at, 1.0 + 1e-9) << text.toStdString();
      texts.insert(text);
    }
    EXPECT_EQ(texts.size(), labels.size()) << "no two labels read the same, from " << c.low;
    EXPECT_LE(labels.size(), 13u);
  }
}

TEST(ValueBandTest, HugeValuesWithATinySpreadGiveFewLabelsAndNoEndlessLoop) {
  // A step below the spacing of doubles this large never moves a running sum on.
  struct Case {
    double low;
    double high;
    double reference;
  };
  for (const Case& c : std::vector<Case>{{1e17, 1e17 + 16, NAN}, {1e17, 1e17 + 16, 1e17}, {1e299, 1e299, NAN}}) {
    const auto labels = ValueBand::Padded(c.low, c.high, 0.05, 0.3, 1.0).RoundLabels(6, 0, c.reference);
    EXPECT_LE(labels.size(), 30u) << c.low;
    for (size_t i = 1; i < labels.size(); ++i) EXPECT_GT(labels[i].first, labels[i - 1].first) << c.low;
  }
}

TEST(ValueBandTest, PercentLabelsSitAtThePricesTheyStandFor) {
  const ValueBand band{3695, 3782, 0.3, 1.0};
  const auto labels = band.RoundLabels(6, 2, 3722);
  bool zero = false;
  for (const auto& [at, text] : labels) {
    EXPECT_TRUE(text.endsWith('%'));
    const double percent = text.chopped(1).toDouble();
    EXPECT_NEAR(at, band.At(3722 * (1 + percent / 100)), 1e-9) << text.toStdString();
    zero = zero || text == "0.00%";
  }
  EXPECT_TRUE(zero) << "the reference itself is labelled 0.00%, never -0.00%";
}

}  // namespace
