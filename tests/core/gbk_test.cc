#include "core/gbk.h"

#include <gtest/gtest.h>

namespace {

TEST(GbkTest, RoundTripsTheVendorLoginError) {
  const std::string utf8 = "CTP:不合法的登录";
  const std::string gbk = Utf8ToGbk(utf8);
  EXPECT_EQ(gbk, std::string("CTP:\xB2\xBB\xBA\xCF\xB7\xA8\xB5\xC4\xB5\xC7\xC2\xBC"));
  EXPECT_EQ(GbkToUtf8(gbk), utf8);
}

TEST(GbkTest, BrokenBytesBecomeQuestionMarks) {
  EXPECT_EQ(GbkToUtf8(std::string("ok\xB2", 3)), "ok?");
  EXPECT_EQ(GbkToUtf8(""), "");
}

}  // namespace
