#include "tools/data/line_block_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/data/data_fixture.h"
#include "tools/data/collected_line.h"
#include "tools/data/file_read_ahead.h"

namespace {

std::vector<std::string> ReadAll(const std::filesystem::path& path, LineBlockReader* reader) {
  std::vector<std::string> lines;
  EXPECT_TRUE(reader->Open(path.string())) << reader->error();
  std::string_view line;
  while (reader->Next(&line)) lines.emplace_back(line);
  return lines;
}

TEST(LineBlockReaderTest, HandsOutWholeLinesAcrossBlocksAndKeepsBackAnUnfinishedOne) {
  DataFolder folder;
  std::string text;
  for (int i = 0; i < 40000; ++i) text += "line " + std::to_string(i) + std::string(i % 50, 'x') + "\r\n";
  text += "plain lf\n";
  text += std::string(LineBlockReader::kMaxLine + 10, 'y') + "\r\n";
  text += "after the long one\r\n";
  text += "unfinished";
  folder.Append(1, "f", text);

  LineBlockReader reader;
  const std::vector<std::string> lines = ReadAll(folder.File(1, "f"), &reader);
  ASSERT_EQ(lines.size(), 40002u);
  EXPECT_EQ(lines[0], "line 0");
  EXPECT_EQ(lines[39999], "line 39999" + std::string(39999 % 50, 'x'));
  EXPECT_EQ(lines[40000], "plain lf");
  EXPECT_EQ(lines[40001], "after the long one");
  EXPECT_EQ(reader.overlong(), 1u);
  EXPECT_EQ(reader.consumed(), text.size() - std::string("unfinished").size());
  EXPECT_EQ(static_cast<std::size_t>(reader.size_at_open()), text.size());
}

TEST(LineBlockReaderTest, RefusesWhatIsNotARegularFile) {
  DataFolder folder;
  LineBlockReader reader;
  EXPECT_FALSE(reader.Open(folder.path().string()));
  EXPECT_FALSE(reader.Open((folder.path() / "missing").string()));
  EXPECT_FALSE(reader.error().empty());
}

// Files read ahead on the other thread give the same lines, counts and sizes as files read
// directly: big ones whose lines cross the blocks, one that is not there, a folder in a file's
// place, and more files than the read-ahead holds blocks.
TEST(LineBlockReaderTest, FilesReadAheadGiveWhatFilesReadDirectlyGive) {
  DataFolder folder;
  std::vector<std::string> paths;
  for (int f = 0; f < 9; ++f) {
    std::string text;
    const int lines = f == 2 ? 150000 : f == 5 ? 0 : 100 * f;
    for (int i = 0; i < lines; ++i) text += std::to_string(f) + " line " + std::to_string(i) + std::string(i % 37, 'x') + "\r\n";
    if (f == 7) text += std::string(LineBlockReader::kMaxLine + 3, 'y') + "\n";
    text += f % 2 ? "unfinished" : "";
    const std::string name = "f" + std::to_string(f);
    if (f != 4) folder.Append(1, name, text);
    paths.push_back(folder.File(1, name).string());
  }
  std::filesystem::create_directory(folder.File(1, "f6").string() + ".d");
  paths[6] = folder.File(1, "f6").string() + ".d";

  FileReadAhead ahead(paths);
  for (const std::string& path : paths) {
    LineBlockReader direct, readAhead;
    const bool opened = direct.Open(path);
    ASSERT_EQ(readAhead.Open(&ahead), opened) << path;
    EXPECT_EQ(readAhead.error(), direct.error()) << path;
    if (!opened) continue;
    std::vector<std::string> expected, got;
    std::string_view line;
    while (direct.Next(&line)) expected.emplace_back(line);
    while (readAhead.Next(&line)) got.emplace_back(line);
    EXPECT_EQ(got, expected) << path;
    EXPECT_EQ(readAhead.consumed(), direct.consumed()) << path;
    EXPECT_EQ(readAhead.overlong(), direct.overlong()) << path;
    EXPECT_EQ(readAhead.size_at_open(), direct.size_at_open()) << path;
    EXPECT_EQ(readAhead.error(), "") << path;
  }
  EXPECT_EQ(ahead.Next(), nullptr);
}

TEST(CollectedLineTest, SplitsTheCollectorsLineAndReadsItsNumbers) {
  CollectedLine fields;
  const std::string line = Tick().Line();
  ASSERT_TRUE(SplitCollectedLine(std::string_view(line).substr(0, line.size() - 2), &fields));
  EXPECT_EQ(fields.field[kInstrumentID], "rb2405");
  EXPECT_EQ(fields.field[kUpdateTime], "21:00:00");
  EXPECT_EQ(fields.field[kPreSettlementPrice], "3722.00");
  EXPECT_EQ(fields.content.substr(0, 7), "rb2405,");
  EXPECT_FALSE(SplitCollectedLine("a,b,c", &fields));
  EXPECT_FALSE(SplitCollectedLine(line.substr(0, line.size() - 2) + ",extra", &fields));
  // Fields of every width, so commas fall on every place of the 16-byte steps and in the tail.
  for (std::size_t width = 0; width < 20; ++width) {
    std::string text;
    for (int f = 0; f < kCollectedFieldCount; ++f) text += (f ? "," : "") + std::string(width + f % 3, 'a' + f);
    ASSERT_TRUE(SplitCollectedLine(text, &fields)) << text;
    for (int f = 0; f < kCollectedFieldCount; ++f) {
      EXPECT_EQ(fields.field[f], std::string(width + f % 3, 'a' + f)) << width << " " << f;
    }
    EXPECT_FALSE(SplitCollectedLine(text + ",", &fields)) << text;
    EXPECT_FALSE(SplitCollectedLine(text.substr(0, text.rfind(',')), &fields)) << text;
  }

  double value = 0;
  EXPECT_TRUE(ParseWhole("3725.00", &value));
  EXPECT_FALSE(ParseWhole("3725.00x", &value));
  EXPECT_FALSE(ParseWhole("", &value));
}

}  // namespace
