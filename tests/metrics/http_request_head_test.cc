#include "metrics/http_request_head.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using State = HttpRequestHead::State;

// Each head is fed whole and a byte at a time: the outcome must not depend on how it arrives.
TEST(HttpRequestHeadTest, CompleteBadOrTooLargeHowEverTheBytesArrive) {
  const struct {
    std::string bytes;
    State state;
    const char* method;
    const char* path;
  } cases[] = {
      {"GET /metrics HTTP/1.1\r\nHost: a\r\n\r\n", State::kComplete, "GET", "/metrics"},
      {"GET /metrics?name[]=x HTTP/1.0\r\n\r\n", State::kComplete, "GET", "/metrics"},
      {"HEAD /metricsX HTTP/1.0\n\n", State::kComplete, "HEAD", "/metricsX"},
      {"GET /metrics HTTP/1.1\r\nHost: a\r\n", State::kNeedMore, "", ""},
      {"GET /metrics HTTP/1.1\r\n", State::kNeedMore, "", ""},
      {"", State::kNeedMore, "", ""},
      {"GET  /metrics HTTP/1.1\r\n\r\n", State::kBad, "", ""},
      {"GET /metrics\r\n\r\n", State::kBad, "", ""},
      {"get /metrics HTTP/1.1\r\n\r\n", State::kBad, "", ""},
      {"GET http://a/metrics HTTP/1.1\r\n\r\n", State::kBad, "", ""},
      {"GET /met\x01rics HTTP/1.1\r\n\r\n", State::kBad, "", ""},
      {"GET /metrics HTTP/2.0\r\n\r\n", State::kBad, "", ""},
      {"\r\n\r\n", State::kBad, "", ""},
      {"GET /metrics HTTP/1.1\r\nX: " + std::string(HttpRequestHead::kMaxBytes, 'a'), State::kTooLarge, "", ""},
      {"GET /metrics HTTP/1.1\r\nX: " + std::string(HttpRequestHead::kMaxBytes, 'a') + "\r\n\r\n", State::kTooLarge,
       "", ""},
  };
  for (const auto& c : cases) {
    HttpRequestHead whole;
    HttpRequestHead bytewise;
    whole.Consume(c.bytes.data(), c.bytes.size());
    for (char byte : c.bytes) bytewise.Consume(&byte, 1);
    for (const HttpRequestHead* head : {&whole, &bytewise}) {
      EXPECT_EQ(head->state(), c.state) << c.bytes.substr(0, 40);
      EXPECT_EQ(head->method(), c.method) << c.bytes.substr(0, 40);
      EXPECT_EQ(head->path(), c.path) << c.bytes.substr(0, 40);
    }
  }
}

TEST(HttpRequestHeadTest, BytesAfterTheHeadAreIgnored) {
  HttpRequestHead head;
  const std::string first = "GET /metrics HTTP/1.1\r\n\r\nGET /other HTTP/1.1\r\n\r\n";
  EXPECT_EQ(head.Consume(first.data(), first.size()), State::kComplete);
  EXPECT_EQ(head.Consume("garbage", 7), State::kComplete);
  EXPECT_EQ(head.path(), "/metrics");
}

}  // namespace
