#include "storage/storage_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(StoragePathsTest, BuildsTheStoredNames) {
  char file[kFilePathSize];
  char day[kDayDirectorySize];
  EXPECT_TRUE(TimeStreamFilePath("20240301", file));
  EXPECT_STREQ(file, "DataTimeStream/20240301.csv");
  EXPECT_TRUE(DayDirectoryPath("20240301", day));
  EXPECT_STREQ(day, "Data/20240301");
  EXPECT_TRUE(ContractFilePath("20240301", "rb2405", file));
  EXPECT_STREQ(file, "Data/20240301/rb2405.csv");
  EXPECT_TRUE(ContractFilePath("20240301", "SP m2405&m2409", file));  // combination contracts
  EXPECT_STREQ(file, "Data/20240301/SP m2405&m2409.csv");
}

TEST(StoragePathsTest, NamesThatCouldLeaveTheirFolderAreNeverBuilt) {
  const std::string longest(30, 'a');
  const std::string tooLong(31, 'a');
  const char* refused[] = {"", ".", "..", "../../../escaped", "a/b", "/etc/x", "..\\x", "a\\b", "rb\n2405",
                           "rb\r", "rb\x01", "rb\x7f", "\t", tooLong.c_str()};
  for (const char* code : refused) {
    char file[kFilePathSize] = "untouched";
    EXPECT_FALSE(ContractFilePath("20240301", code, file)) << code;
    EXPECT_STREQ(file, "") << code;
  }
  for (const char* day : {"", "..", "2024/0301", "20240301x", "..\\", "2024\n301"}) {
    char file[kFilePathSize] = "untouched";
    char dayPath[kDayDirectorySize] = "untouched";
    EXPECT_FALSE(TimeStreamFilePath(day, file)) << day;
    EXPECT_FALSE(DayDirectoryPath(day, dayPath)) << day;
    EXPECT_FALSE(ContractFilePath(day, "rb2405", file)) << day;
    EXPECT_STREQ(file, "");
    EXPECT_STREQ(dayPath, "");
  }
  char file[kFilePathSize];
  EXPECT_TRUE(ContractFilePath("20240301", longest.c_str(), file));
  EXPECT_TRUE(ContractFilePath("20240301", "...", file));  // an odd name, but still one component
}

TEST(StoragePathsTest, AFieldWithoutTerminatorIsRefusedWithoutReadingPastIt) {
  // Exactly the width of the record's field and no terminator: the check stops at the field's end.
  char code[31];
  for (char& c : code) c = 'a';
  EXPECT_FALSE(IsSafeNameComponent(code, sizeof(code) - 1));
  char day[9];
  for (char& c : day) c = '2';
  EXPECT_FALSE(IsSafeNameComponent(day, sizeof(day) - 1));
}

}  // namespace
