#ifndef QUOTELOOM_OBJECTSTORE_OBJECT_INFO_H
#define QUOTELOOM_OBJECTSTORE_OBJECT_INFO_H

#include <cstdint>
#include <string>
#include <string_view>

// The record a bucket keeps of each object, on its meta subject as JSON (docs/cluster.md):
// what the chunks of `nuid` add up to. Plain data, any thread.
struct ObjectInfo {
  std::string name;
  std::string description;
  std::string bucket;
  std::string nuid;           // the object's chunks are on $O.<bucket>.C.<nuid>
  std::uint64_t size = 0;     // bytes of the whole object
  std::uint64_t chunks = 0;   // messages its bytes are cut into
  std::uint32_t maxChunkSize = 0;  // 0 when the writer did not say
  std::string digest;         // the 32 bytes of the SHA-256 of the whole object
  std::string mtime;          // RFC 3339, UTC, as written
  bool deleted = false;
};

// Bounds on what a record read from the cluster may claim.
struct ObjectLimits {
  std::uint64_t maxSize = std::uint64_t{8} << 30;
  std::uint32_t maxChunkSize = 8u << 20;
};

// The largest meta record taken from the cluster.
inline constexpr std::size_t kMaxObjectInfoBytes = 64 * 1024;

// "SHA-256=" and the digest in base64url with padding.
std::string DigestText(std::string_view digest);

// The record as JSON in the field names every NATS client reads.
std::string ObjectInfoJson(const ObjectInfo& info);

// Reads a record from the cluster; false with the reason for anything malformed or beyond `limits`:
// a size the chunks cannot hold, a nuid that is not a subject token, a digest that is not SHA-256.
bool ParseObjectInfo(std::string_view json, const ObjectLimits& limits, ObjectInfo* info, std::string* error);

#endif
