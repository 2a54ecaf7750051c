#include "objectstore/object_bucket.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <ctime>
#include <memory>
#include <vector>

#include "core/errno_text.h"
#include "objectstore/base64_url.h"
#include "objectstore/object_layout.h"
#include "objectstore/sha256_digest.h"

namespace {

constexpr std::int64_t kNanosPerSecond = 1000000000LL;

std::string StatusText(natsStatus status, jsErrCode code) {
  natsStatus ignored;
  std::string text = natsStatus_GetText(status);
  const char* last = nats_GetLastError(&ignored);
  if (last != nullptr && *last != '\0') text = last;
  if (!text.empty() && text.front() == '(') {
    const auto end = text.find("): ");
    if (end != std::string::npos) text.erase(0, end + 3);
  }
  if (code != 0) text += " (JetStream error " + std::to_string(static_cast<int>(code)) + ")";
  return text;
}

// RFC 3339 with nanoseconds in UTC, as the Go client writes an object's time.
std::string UtcNow() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const std::int64_t nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
  const std::time_t seconds = static_cast<std::time_t>(nanos / kNanosPerSecond);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char text[48];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%09lldZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<long long>(nanos % kNanosPerSecond));
  return text;
}

bool PublishBytes(jsCtx* js, const std::string& subject, std::string_view bytes, std::string* error) {
  jsPubAck* ack = nullptr;
  jsErrCode code = static_cast<jsErrCode>(0);
  const natsStatus s =
      js_Publish(&ack, js, subject.c_str(), bytes.data(), static_cast<int>(bytes.size()), nullptr, &code);
  jsPubAck_Destroy(ack);
  if (s == NATS_OK) return true;
  *error = "publish on " + subject + ": " + StatusText(s, code);
  return false;
}

// Whether `msg`, the `taken`-th chunk, is the last the stream holds on its subject while the record
// wants more: an object cut short fails at once instead of waiting for chunks that never come.
bool LastChunkTooEarly(natsMsg* msg, std::uint64_t taken, std::uint64_t wanted) {
  jsMsgMetaData* meta = nullptr;
  if (natsMsg_GetMetaData(&meta, msg) != NATS_OK) return false;
  const bool last = meta->NumPending == 0;
  jsMsgMetaData_Destroy(meta);
  return last && taken < wanted;
}

}  // namespace

ObjectBucket::ObjectBucket(jsCtx* js, std::string bucket, ObjectLimits limits)
    : js_(js), bucket_(std::move(bucket)), stream_(BucketStreamName(bucket_)), limits_(limits) {}

bool ObjectBucket::Ensure(int replicas, std::int64_t maxAgeSeconds, std::string* error) {
  jsStreamInfo* info = nullptr;
  jsErrCode code = static_cast<jsErrCode>(0);
  natsStatus s = js_GetStreamInfo(&info, js_, stream_.c_str(), nullptr, &code);
  jsStreamInfo_Destroy(info);
  if (s == NATS_OK) return true;
  if (s != NATS_NOT_FOUND) {
    *error = "bucket " + bucket_ + ": " + StatusText(s, code);
    return false;
  }
  const std::string chunks = ChunkSubjects(bucket_);
  const std::string metas = MetaSubjects(bucket_);
  const char* subjects[] = {chunks.c_str(), metas.c_str()};
  jsStreamConfig cfg;
  jsStreamConfig_Init(&cfg);
  cfg.Name = stream_.c_str();
  cfg.Subjects = subjects;
  cfg.SubjectsLen = 2;
  cfg.Storage = js_FileStorage;
  cfg.Replicas = replicas;
  cfg.MaxAge = maxAgeSeconds * kNanosPerSecond;
  cfg.Discard = js_DiscardNew;
  cfg.AllowRollup = true;
  cfg.AllowDirect = true;
  code = static_cast<jsErrCode>(0);
  s = js_AddStream(&info, js_, &cfg, nullptr, &code);
  jsStreamInfo_Destroy(info);
  if (s == NATS_OK || code == JSStreamNameExistErr) return true;
  *error = "cannot create bucket " + bucket_ + ": " + StatusText(s, code);
  return false;
}

bool ObjectBucket::LookupRecord(const std::string& subject, natsMsg** msg, Lookup* result, std::string* error) {
  jsErrCode code = static_cast<jsErrCode>(0);
  const natsStatus s = js_GetLastMsg(msg, js_, stream_.c_str(), subject.c_str(), nullptr, &code);
  if (s == NATS_OK) return true;
  if (s == NATS_NOT_FOUND || code == JSNoMessageFoundErr || code == JSStreamNotFoundErr) {
    *result = Lookup::kMissing;
  } else {
    *result = Lookup::kFailed;
    *error = "bucket " + bucket_ + ": " + StatusText(s, code);
  }
  return false;
}

ObjectBucket::Lookup ObjectBucket::Info(const std::string& name, ObjectInfo* info, std::string* error) {
  natsMsg* msg = nullptr;
  Lookup result = Lookup::kMissing;
  // Clients differ on padding the name's encoding: the padded spelling first, then the other.
  if (!LookupRecord(MetaSubject(bucket_, name, true), &msg, &result, error)) {
    if (result == Lookup::kFailed || EncodeBase64Url(name, true) == EncodeBase64Url(name, false)) return result;
    if (!LookupRecord(MetaSubject(bucket_, name, false), &msg, &result, error)) return result;
  }
  const std::string_view body(natsMsg_GetData(msg), static_cast<std::size_t>(natsMsg_GetDataLength(msg)));
  ObjectInfo parsed;
  const bool ok = ParseObjectInfo(body, limits_, &parsed, error);
  natsMsg_Destroy(msg);
  if (!ok) return Lookup::kMalformed;
  if (parsed.deleted) return Lookup::kMissing;
  if (parsed.name != name) {
    *error = "the record of " + name + " names " + parsed.name.substr(0, 200);
    return Lookup::kMalformed;
  }
  *info = std::move(parsed);
  return Lookup::kFound;
}

bool ObjectBucket::PurgeChunks(const std::string& nuid, std::string* error) {
  const std::string subject = ChunkSubject(bucket_, nuid);
  jsOptions options;
  jsOptions_Init(&options);
  options.Stream.Purge.Subject = subject.c_str();
  jsErrCode code = static_cast<jsErrCode>(0);
  const natsStatus s = js_PurgeStream(js_, stream_.c_str(), &options, &code);
  if (s == NATS_OK) return true;
  *error = "purge of " + subject + ": " + StatusText(s, code);
  return false;
}

bool ObjectBucket::PutFile(const std::string& name, int fd, std::uint64_t size, const std::string& digest,
                           ObjectInfo* info, std::string* error, const std::function<bool()>& stopping) {
  ObjectInfo old;
  std::string ignored;
  const bool replacing = Info(name, &old, &ignored) == Lookup::kFound;
  ObjectInfo put;
  put.name = name;
  put.bucket = bucket_;
  put.nuid = NewNuid();
  put.maxChunkSize = kDefaultChunkSize;
  const std::string subject = ChunkSubject(bucket_, put.nuid);
  std::vector<char> buffer(kDefaultChunkSize);
  Sha256Digest sha;
  bool ok = true;
  while (ok && put.size < size) {
    if (stopping && stopping()) {
      *error = name + ": put given up as the program stops";
      ok = false;
      break;
    }
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - put.size));
    const ssize_t got = ::pread(fd, buffer.data(), want, static_cast<off_t>(put.size));
    if (got <= 0) {
      *error = name + ": " + (got < 0 ? ErrnoText(errno) : std::string("shorter than its size"));
      ok = false;
      break;
    }
    const std::string_view chunk(buffer.data(), static_cast<std::size_t>(got));
    sha.Update(chunk);
    ok = PublishBytes(js_, subject, chunk, error);
    put.size += static_cast<std::uint64_t>(got);
    ++put.chunks;
  }
  if (ok && sha.Finish() != digest) {
    *error = name + ": changed while it was put";
    ok = false;
  }
  put.digest = digest;
  put.mtime = UtcNow();
  if (ok) {
    // The record replaces every older one of the name (a rollup of its subject).
    const std::string meta = MetaSubject(bucket_, name);
    const std::string json = ObjectInfoJson(put);
    natsMsg* msg = nullptr;
    natsStatus s = natsMsg_Create(&msg, meta.c_str(), nullptr, json.data(), static_cast<int>(json.size()));
    if (s == NATS_OK) s = natsMsgHeader_Set(msg, "Nats-Rollup", "sub");
    jsPubAck* ack = nullptr;
    jsErrCode code = static_cast<jsErrCode>(0);
    if (s == NATS_OK) s = js_PublishMsg(&ack, js_, msg, nullptr, &code);
    jsPubAck_Destroy(ack);
    natsMsg_Destroy(msg);
    if (s != NATS_OK) {
      *error = "publish on " + meta + ": " + StatusText(s, code);
      ok = false;
    }
  }
  if (!ok) {
    std::string purgeError;
    PurgeChunks(put.nuid, &purgeError);
    return false;
  }
  if (replacing && old.nuid != put.nuid) PurgeChunks(old.nuid, &ignored);
  *info = std::move(put);
  return true;
}

ObjectBucket::ReadResult ObjectBucket::Read(const ObjectInfo& info, const std::function<bool(std::string_view, std::string*)>& sink,
                        std::string* error, int waitMs) {
  Sha256Digest sha;
  std::uint64_t bytes = 0;
  std::uint64_t chunks = 0;
  const std::uint64_t chunkLimit = info.maxChunkSize > 0 ? info.maxChunkSize : limits_.maxChunkSize;
  if (info.chunks > 0) {
    const std::string subject = ChunkSubject(bucket_, info.nuid);
    jsSubOptions so;
    jsSubOptions_Init(&so);
    so.Stream = stream_.c_str();
    so.Ordered = true;
    natsSubscription* raw = nullptr;
    jsErrCode code = static_cast<jsErrCode>(0);
    const natsStatus s = js_SubscribeSync(&raw, js_, subject.c_str(), nullptr, &so, &code);
    if (s != NATS_OK) {
      *error = "read of " + info.name + ": " + StatusText(s, code);
      return ReadResult::kUnanswered;
    }
    const std::unique_ptr<natsSubscription, void (*)(natsSubscription*)> sub(raw, [](natsSubscription* p) {
      natsSubscription_Unsubscribe(p);
      natsSubscription_Destroy(p);
    });
    while (chunks < info.chunks) {
      natsMsg* msg = nullptr;
      const natsStatus n = natsSubscription_NextMsg(&msg, sub.get(), waitMs);
      if (n != NATS_OK) {
        *error = "read of " + info.name + ": chunk " + std::to_string(chunks + 1) + " of " +
                 std::to_string(info.chunks) + ": " + StatusText(n, static_cast<jsErrCode>(0));
        return ReadResult::kUnanswered;
      }
      const std::size_t length = static_cast<std::size_t>(natsMsg_GetDataLength(msg));
      const std::string_view chunk(natsMsg_GetData(msg), length);
      bool ok = true;
      if (length == 0 || length > chunkLimit || bytes + length > info.size) {
        *error = info.name + ": chunk " + std::to_string(chunks + 1) + " of " + std::to_string(length) +
                 " bytes does not fit the object's size";
        ok = false;
      } else if (LastChunkTooEarly(msg, chunks + 1, info.chunks)) {
        *error = info.name + ": the bucket holds " + std::to_string(chunks + 1) + " chunks, the record says " +
                 std::to_string(info.chunks);
        ok = false;
      } else {
        sha.Update(chunk);
        ok = sink(chunk, error);
      }
      natsMsg_Destroy(msg);
      if (!ok) return ReadResult::kRefused;
      bytes += length;
      ++chunks;
    }
  }
  if (bytes != info.size) {
    *error = info.name + ": " + std::to_string(bytes) + " bytes, the record says " + std::to_string(info.size);
    return ReadResult::kRefused;
  }
  if (sha.Finish() != info.digest) {
    *error = info.name + ": the digest of the bytes read differs from the record's";
    return ReadResult::kRefused;
  }
  return ReadResult::kRead;
}
