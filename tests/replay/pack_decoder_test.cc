#include "replay/net/pack_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/replay/test_socket.h"

namespace {

constexpr std::uint32_t kFlag = 361;
constexpr std::uint32_t kLimit = 4095;

struct Outcome {
  std::vector<std::string> bodies;
  PackDecoder::Status last;
};

// Feeds `stream` in chunks of the given sizes (the rest in one chunk) and collects every body.
Outcome Feed(const std::vector<std::uint8_t>& stream, const std::vector<std::size_t>& chunks,
             std::uint32_t flag = kFlag) {
  PackDecoder decoder(kLimit, flag);
  Outcome out{{}, PackDecoder::Status::NeedMore};
  std::size_t offset = 0;
  auto drain = [&] {
    std::span<const std::uint8_t> body;
    while ((out.last = decoder.Next(&body)) == PackDecoder::Status::Complete)
      out.bodies.emplace_back(body.begin(), body.end());
  };
  for (std::size_t size : chunks) {
    if (out.last == PackDecoder::Status::Error) break;
    size = std::min(size, stream.size() - offset);
    decoder.Append(stream.data() + offset, size);
    offset += size;
    drain();
  }
  if (out.last != PackDecoder::Status::Error && offset < stream.size()) {
    decoder.Append(stream.data() + offset, stream.size() - offset);
    drain();
  }
  return out;
}

std::vector<std::uint8_t> Join(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct Case {
  const char* name;
  std::vector<std::uint8_t> stream;
  std::vector<std::string> bodies;
  PackDecoder::Status last;
};

std::vector<Case> Cases() {
  const std::string big(4095, 'x');
  std::vector<std::uint8_t> header4096(4);
  WritePackHeader(kFlag, 4096, header4096.data());
  return {
      {"one pack", Pack(kFlag, Bytes("abc")), {"abc"}, PackDecoder::Status::NeedMore},
      {"three packs in one segment", Join({Pack(kFlag, Bytes("a")), Pack(kFlag, Bytes("bc")), Pack(kFlag, Bytes("def"))}),
       {"a", "bc", "def"}, PackDecoder::Status::NeedMore},
      {"empty body", Join({Pack(kFlag, {}), Pack(kFlag, Bytes("z"))}), {"", "z"}, PackDecoder::Status::NeedMore},
      {"half a header", {0xD9, 0x00}, {}, PackDecoder::Status::NeedMore},
      {"body still short", Join({Pack(kFlag, Bytes("ok")), {0x05, 0x00, 0x40, 0x5A, 'h', 'i'}}), {"ok"},
       PackDecoder::Status::NeedMore},
      {"wrong flag", Pack(360, Bytes("abc")), {}, PackDecoder::Status::Error},
      {"wrong flag after a good pack", Join({Pack(kFlag, Bytes("ok")), Pack(1, Bytes("no"))}), {"ok"},
       PackDecoder::Status::Error},
      {"4095 bytes is the limit", Pack(kFlag, Bytes(big)), {big}, PackDecoder::Status::NeedMore},
      {"4096 bytes announced", header4096, {}, PackDecoder::Status::Error},
  };
}

TEST(PackDecoderTest, CutsStreamsWhateverTheSegments) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    const Outcome whole = Feed(c.stream, {c.stream.size()});
    EXPECT_EQ(whole.bodies, c.bodies);
    EXPECT_EQ(whole.last, c.last);

    const Outcome bytewise = Feed(c.stream, std::vector<std::size_t>(c.stream.size(), 1));
    EXPECT_EQ(bytewise.bodies, c.bodies);
    EXPECT_EQ(bytewise.last, c.last);

    for (std::size_t split = 1; split < std::min<std::size_t>(c.stream.size(), 40); ++split) {
      const Outcome two = Feed(c.stream, {split});
      EXPECT_EQ(two.bodies, c.bodies) << "split at " << split;
      EXPECT_EQ(two.last, c.last) << "split at " << split;
    }
  }
}

TEST(PackDecoderTest, FlagZeroAcceptsAnyFlag) {
  const auto stream = Join({Pack(1, Bytes("a")), Pack(1023, Bytes("b"))});
  const Outcome out = Feed(stream, {stream.size()}, 0);
  EXPECT_EQ(out.bodies, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(out.last, PackDecoder::Status::NeedMore);
}

TEST(PackDecoderTest, ErrorIsFinal) {
  PackDecoder decoder(kLimit, kFlag);
  const auto bad = Pack(7, Bytes("x"));
  decoder.Append(bad.data(), bad.size());
  std::span<const std::uint8_t> body;
  EXPECT_EQ(decoder.Next(&body), PackDecoder::Status::Error);
  const auto good = Pack(kFlag, Bytes("y"));
  decoder.Append(good.data(), good.size());
  EXPECT_EQ(decoder.Next(&body), PackDecoder::Status::Error);
}

TEST(PackHeaderTest, ReplayHeaderBytes) {
  std::uint8_t header[4];
  WritePackHeader(361, 217, header);
  EXPECT_EQ(header[0], 0xD9);
  EXPECT_EQ(header[1], 0x00);
  EXPECT_EQ(header[2], 0x40);
  EXPECT_EQ(header[3], 0x5A);
  EXPECT_EQ(MakePackHeader(1023, kMaxPackSizeLimit), 0xFFFFFFFFu);
}

}  // namespace
