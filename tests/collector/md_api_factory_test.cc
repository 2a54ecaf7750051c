#include "collector/md_api_factory.h"

#include <gtest/gtest.h>

#include "ThostFtdcMdApi.h"

namespace {

// Stand-ins for the two shapes of CThostFtdcMdApi's factory across the releases.
struct OldApi {
  static inline int created = 0;
  static OldApi* CreateFtdcMdApi(const char* = "", const bool = false, const bool = false) {
    ++created;
    return nullptr;
  }
  static const char* GetApiVersion() { return "v6.3.15"; }
};

struct NewApi {
  static inline bool production = false;
  static NewApi* CreateFtdcMdApi(const char* = "", const bool = false, const bool = false,
                                 bool bIsProductionMode = true) {
    production = bIsProductionMode;
    return nullptr;
  }
};

TEST(MdApiFactoryTest, TheEnvironmentIsPassedWhereTheReleaseTakesIt) {
  static_assert(!kApiChoosesEnvironment<OldApi>);
  static_assert(kApiChoosesEnvironment<NewApi>);
  CreateMdApi<NewApi>(false);
  EXPECT_FALSE(NewApi::production);
  CreateMdApi<NewApi>(true);
  EXPECT_TRUE(NewApi::production);
  CreateMdApi<OldApi>(false);
  EXPECT_EQ(OldApi::created, 1);
}

TEST(MdApiFactoryTest, TheVersionIsAskedWhereTheReleaseHasIt) {
  EXPECT_STREQ(MdApiVersion<OldApi>(), "v6.3.15");
  EXPECT_EQ(MdApiVersion<NewApi>(), nullptr);
  EXPECT_NE(MdApiVersion<CThostFtdcMdApi>(), nullptr);
}

}  // namespace
