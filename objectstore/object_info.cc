#include "objectstore/object_info.h"

#include <nlohmann/json.hpp>

#include "objectstore/base64_url.h"
#include "objectstore/object_layout.h"

namespace {

constexpr std::string_view kDigestPrefix = "SHA-256=";
constexpr std::size_t kDigestBytes = 32;

// A field that must be a string when present; false when it is there with another type.
bool StringField(const nlohmann::json& j, const char* key, std::string* out) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return true;
  if (!it->is_string()) return false;
  *out = it->get<std::string>();
  return true;
}

bool CountField(const nlohmann::json& j, const char* key, std::uint64_t* out) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return true;
  if (!it->is_number_unsigned()) return false;
  *out = it->get<std::uint64_t>();
  return true;
}

}  // namespace

std::string DigestText(std::string_view digest) {
  return std::string(kDigestPrefix) + EncodeBase64Url(digest, true);
}

std::string ObjectInfoJson(const ObjectInfo& info) {
  nlohmann::ordered_json j;
  j["name"] = info.name;
  if (!info.description.empty()) j["description"] = info.description;
  if (info.maxChunkSize > 0) j["options"] = {{"max_chunk_size", info.maxChunkSize}};
  j["bucket"] = info.bucket;
  j["nuid"] = info.nuid;
  j["size"] = info.size;
  j["mtime"] = info.mtime;
  j["chunks"] = info.chunks;
  j["digest"] = DigestText(info.digest);
  if (info.deleted) j["deleted"] = true;
  return j.dump();
}

bool ParseObjectInfo(std::string_view text, const ObjectLimits& limits, ObjectInfo* info, std::string* error) {
  if (text.size() > kMaxObjectInfoBytes) {
    *error = "object record of " + std::to_string(text.size()) + " bytes";
    return false;
  }
  const nlohmann::json j = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    *error = "object record is not a JSON object";
    return false;
  }
  ObjectInfo out;
  std::string digest;
  std::uint64_t maxChunk = 0;
  const auto options = j.find("options");
  if (options != j.end() && options->is_object() && !CountField(*options, "max_chunk_size", &maxChunk)) {
    *error = "object record: bad options.max_chunk_size";
    return false;
  }
  if (!StringField(j, "name", &out.name) || !StringField(j, "description", &out.description) ||
      !StringField(j, "bucket", &out.bucket) || !StringField(j, "nuid", &out.nuid) ||
      !StringField(j, "mtime", &out.mtime) || !StringField(j, "digest", &digest) ||
      !CountField(j, "size", &out.size) || !CountField(j, "chunks", &out.chunks)) {
    *error = "object record: a field of the wrong type";
    return false;
  }
  if (const auto d = j.find("deleted"); d != j.end() && !d->is_null()) {
    if (!d->is_boolean()) {
      *error = "object record: bad deleted";
      return false;
    }
    out.deleted = d->get<bool>();
  }
  if (out.deleted) {
    *info = std::move(out);
    return true;
  }
  if (!IsSubjectToken(out.nuid)) {
    *error = "object record: bad nuid";
    return false;
  }
  if (out.size > limits.maxSize) {
    *error = "object of " + std::to_string(out.size) + " bytes, more than " + std::to_string(limits.maxSize);
    return false;
  }
  if (maxChunk > limits.maxChunkSize) {
    *error = "chunks of " + std::to_string(maxChunk) + " bytes, more than " + std::to_string(limits.maxChunkSize);
    return false;
  }
  out.maxChunkSize = static_cast<std::uint32_t>(maxChunk);
  // Every chunk holds at least one byte and at most the chunk size.
  const std::uint64_t chunkBytes = maxChunk > 0 ? maxChunk : limits.maxChunkSize;
  if (out.chunks > out.size || (out.size > 0 && out.chunks < (out.size + chunkBytes - 1) / chunkBytes)) {
    *error = std::to_string(out.chunks) + " chunks cannot hold " + std::to_string(out.size) + " bytes";
    return false;
  }
  if (digest.compare(0, kDigestPrefix.size(), kDigestPrefix) != 0 ||
      !DecodeBase64Url(std::string_view(digest).substr(kDigestPrefix.size()), &out.digest) ||
      out.digest.size() != kDigestBytes) {
    *error = "object record: digest is not SHA-256 (" + digest.substr(0, 80) + ")";
    return false;
  }
  *info = std::move(out);
  return true;
}
