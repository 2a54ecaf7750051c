#include <gtest/gtest.h>

#include <string>

#include "objectstore/base64_url.h"
#include "objectstore/object_info.h"
#include "objectstore/object_layout.h"
#include "objectstore/sha256_digest.h"

namespace {

TEST(Base64Url, EncodesWithAndWithoutPaddingAndDecodesBoth) {
  struct Case {
    std::string bytes, padded, bare;
  };
  const Case cases[] = {
      {"", "", ""},
      {"f", "Zg==", "Zg"},
      {"fo", "Zm8=", "Zm8"},
      {"foo", "Zm9v", "Zm9v"},
      {"foob", "Zm9vYg==", "Zm9vYg"},
      {"20240301.qth", "MjAyNDAzMDEucXRo", "MjAyNDAzMDEucXRo"},
      {std::string("\xfb\xff\xbf", 3), "-_-_", "-_-_"},  // the URL alphabet, not '+' and '/'
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeBase64Url(c.bytes, true), c.padded) << c.bytes;
    EXPECT_EQ(EncodeBase64Url(c.bytes, false), c.bare) << c.bytes;
    std::string decoded;
    ASSERT_TRUE(DecodeBase64Url(c.padded, &decoded)) << c.padded;
    EXPECT_EQ(decoded, c.bytes);
    ASSERT_TRUE(DecodeBase64Url(c.bare, &decoded)) << c.bare;
    EXPECT_EQ(decoded, c.bytes);
  }
}

TEST(Base64Url, RefusesWhatNoEncodingGives) {
  std::string out;
  for (const char* bad : {"Zg=a", "Z", "Zm9v+A==", "Zm9v/A==", "Zh==", "Zm=9", "a b="}) {
    EXPECT_FALSE(DecodeBase64Url(bad, &out)) << bad;
  }
}

TEST(Sha256Digest, KnownDigestsInPieces) {
  Sha256Digest whole;
  whole.Update("abc");
  EXPECT_EQ(DigestText(whole.Finish()), "SHA-256=ungWv48Bz-pBQUDeXa4iI7ADYaOWF3qctBD_YfIAFa0=");
  Sha256Digest pieces;
  pieces.Update("a");
  pieces.Update("");
  pieces.Update("bc");
  Sha256Digest again;
  again.Update("abc");
  EXPECT_EQ(pieces.Finish(), again.Finish());
}

TEST(ObjectLayout, SubjectsOfABucket) {
  EXPECT_EQ(BucketStreamName("quoteloom-history"), "OBJ_quoteloom-history");
  EXPECT_EQ(ChunkSubjects("h"), "$O.h.C.>");
  EXPECT_EQ(MetaSubjects("h"), "$O.h.M.>");
  EXPECT_EQ(ChunkSubject("h", "ABC"), "$O.h.C.ABC");
  EXPECT_EQ(MetaSubject("h", "a"), "$O.h.M.YQ==");
  EXPECT_EQ(MetaSubject("h", "a", false), "$O.h.M.YQ");
  const std::string nuid = NewNuid();
  EXPECT_EQ(nuid.size(), 22u);
  EXPECT_TRUE(IsSubjectToken(nuid));
  EXPECT_NE(NewNuid(), nuid);
  for (const char* bad : {"", "a.b", "a*", "a>", "a b", "ä"}) EXPECT_FALSE(IsBucketName(bad)) << bad;
  EXPECT_FALSE(IsBucketName(std::string(65, 'a')));
}

ObjectInfo SampleInfo() {
  ObjectInfo info;
  info.name = "20240301.qth";
  info.bucket = "quoteloom-history";
  info.nuid = "pDYfkR3lB5yoTJGlGdzVKB";
  info.size = 300000;
  info.chunks = 3;
  info.maxChunkSize = 131072;
  info.mtime = "2024-03-01T07:00:00.000000001Z";
  Sha256Digest sha;
  sha.Update("day");
  info.digest = sha.Finish();
  return info;
}

TEST(ObjectInfo, RecordReadsBackAsWritten) {
  const ObjectInfo info = SampleInfo();
  const std::string json = ObjectInfoJson(info);
  EXPECT_NE(json.find("\"options\":{\"max_chunk_size\":131072}"), std::string::npos) << json;
  EXPECT_NE(json.find("\"digest\":\"SHA-256="), std::string::npos) << json;
  EXPECT_EQ(json.find("deleted"), std::string::npos) << json;
  ObjectInfo back;
  std::string error;
  ASSERT_TRUE(ParseObjectInfo(json, {}, &back, &error)) << error;
  EXPECT_EQ(back.name, info.name);
  EXPECT_EQ(back.nuid, info.nuid);
  EXPECT_EQ(back.size, info.size);
  EXPECT_EQ(back.chunks, info.chunks);
  EXPECT_EQ(back.maxChunkSize, info.maxChunkSize);
  EXPECT_EQ(back.digest, info.digest);
  EXPECT_FALSE(back.deleted);
}

// Records another client wrote: extra fields are passed over, a deleted one needs no digest.
TEST(ObjectInfo, TakesOtherClientsRecords) {
  ObjectInfo info;
  std::string error;
  ASSERT_TRUE(ParseObjectInfo(
      R"({"name":"x","bucket":"b","nuid":"N1","size":0,"mtime":"2024-01-01T00:00:00Z","chunks":0,)"
      R"("digest":"SHA-256=47DEQpj8HBSa-_TImW-5JCeuQeRkm5NMpJWZG3hSuFU=","metadata":{"a":"b"},"headers":{"X":["y"]}})",
      {}, &info, &error))
      << error;
  EXPECT_EQ(info.size, 0u);
  ASSERT_TRUE(ParseObjectInfo(R"({"name":"x","bucket":"b","nuid":"","deleted":true})", {}, &info, &error)) << error;
  EXPECT_TRUE(info.deleted);
}

TEST(ObjectInfo, RefusesRecordsBeyondItsBounds) {
  ObjectLimits limits;
  limits.maxSize = 1000000;
  limits.maxChunkSize = 1 << 20;
  const std::string digest = "\"digest\":\"" + DigestText(std::string(32, 'x')) + "\"";
  const struct {
    const char* why;
    std::string json;
  } cases[] = {
      {"not JSON", "{\"name\":"},
      {"not an object", "[1,2]"},
      {"size of a string", R"({"name":"x","nuid":"N","size":"1","chunks":1,)" + digest + "}"},
      {"negative size", R"({"name":"x","nuid":"N","size":-1,"chunks":1,)" + digest + "}"},
      {"larger than the limit", R"({"name":"x","nuid":"N","size":1000001,"chunks":1000,)" + digest + "}"},
      {"chunks larger than the limit",
       R"({"name":"x","nuid":"N","size":10,"chunks":1,"options":{"max_chunk_size":2000000},)" + digest + "}"},
      {"more chunks than bytes", R"({"name":"x","nuid":"N","size":2,"chunks":3,)" + digest + "}"},
      {"too few chunks for the size",
       R"({"name":"x","nuid":"N","size":300,"chunks":2,"options":{"max_chunk_size":100},)" + digest + "}"},
      {"nuid that is no token", R"({"name":"x","nuid":"a.>","size":1,"chunks":1,)" + digest + "}"},
      {"no nuid", R"({"name":"x","size":1,"chunks":1,)" + digest + "}"},
      {"another digest", R"({"name":"x","nuid":"N","size":1,"chunks":1,"digest":"SHA-512=AAAA"})"},
      {"short digest", R"({"name":"x","nuid":"N","size":1,"chunks":1,"digest":"SHA-256=AAAA"})"},
      {"no digest", R"({"name":"x","nuid":"N","size":1,"chunks":1})"},
      {"deleted of a string", R"({"name":"x","nuid":"N","size":1,"chunks":1,"deleted":"no",)" + digest + "}"},
      {"too long", R"({"name":")" + std::string(kMaxObjectInfoBytes, 'x') + "\"}"},
  };
  for (const auto& c : cases) {
    ObjectInfo info;
    std::string error;
    EXPECT_FALSE(ParseObjectInfo(c.json, limits, &info, &error)) << c.why;
    EXPECT_FALSE(error.empty()) << c.why;
  }
}

}  // namespace
