#include "metrics/sample_set.h"

#include <gtest/gtest.h>
#include <prometheus/text_serializer.h>

#include "metrics/callback_collectable.h"

namespace {

TEST(SampleSetTest, SamplesOfOneNameShareAFamilyInTheOrderFirstSeen) {
  CallbackCollectable collectable([](SampleSet& s) {
    s.Counter("quoteloom_ticks_refused_total", "Refused ticks", 3, {{"reason", "code_too_long"}});
    s.Gauge("quoteloom_writer_queue_depth", "Queue", 7);
    s.Counter("quoteloom_ticks_refused_total", "ignored", 4, {{"reason", "not_subscribed"}});
  });
  const auto families = collectable.Collect();
  ASSERT_EQ(families.size(), 2u);
  EXPECT_EQ(families[0].metric.size(), 2u);
  const std::string text = prometheus::TextSerializer().Serialize(families);
  EXPECT_EQ(text,
            "# HELP quoteloom_ticks_refused_total Refused ticks\n"
            "# TYPE quoteloom_ticks_refused_total counter\n"
            "quoteloom_ticks_refused_total{reason=\"code_too_long\"} 3\n"
            "quoteloom_ticks_refused_total{reason=\"not_subscribed\"} 4\n"
            "# HELP quoteloom_writer_queue_depth Queue\n"
            "# TYPE quoteloom_writer_queue_depth gauge\n"
            "quoteloom_writer_queue_depth 7\n");
  // A second scrape starts afresh.
  EXPECT_EQ(collectable.Collect().size(), 2u);
  EXPECT_EQ(collectable.Collect()[0].metric.size(), 2u);
}

}  // namespace
