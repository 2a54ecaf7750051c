#include "objectstore/object_layout.h"

#include <random>

#include "objectstore/base64_url.h"

namespace {

bool IsTokenByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

}  // namespace

bool IsBucketName(std::string_view bucket) { return IsSubjectToken(bucket); }

bool IsSubjectToken(std::string_view token) {
  if (token.empty() || token.size() > 64) return false;
  for (const char c : token) {
    if (!IsTokenByte(c)) return false;
  }
  return true;
}

std::string BucketStreamName(const std::string& bucket) { return "OBJ_" + bucket; }
std::string ChunkSubject(const std::string& bucket, const std::string& nuid) { return "$O." + bucket + ".C." + nuid; }
std::string ChunkSubjects(const std::string& bucket) { return "$O." + bucket + ".C.>"; }
std::string MetaSubjects(const std::string& bucket) { return "$O." + bucket + ".M.>"; }

std::string MetaSubject(const std::string& bucket, std::string_view name, bool padded) {
  return "$O." + bucket + ".M." + EncodeBase64Url(name, padded);
}

std::string NewNuid() {
  static constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  thread_local std::mt19937_64 generator{std::random_device{}() ^ (std::uint64_t{std::random_device{}()} << 32)};
  std::uniform_int_distribution<int> pick(0, 61);
  std::string nuid(22, '0');
  for (char& c : nuid) c = kDigits[pick(generator)];
  return nuid;
}
