#ifndef QUOTELOOM_OBJECTSTORE_OBJECT_BUCKET_H
#define QUOTELOOM_OBJECTSTORE_OBJECT_BUCKET_H

#include <nats/nats.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "objectstore/object_info.h"

// One object store bucket of a JetStream cluster, in the stream layout NATS clients share
// (objectstore/object_layout.h), so their object store calls list and read what is put here and
// the other way round. The thread that owns the JetStream context only.
class ObjectBucket {
 public:
  ObjectBucket(jsCtx* js, std::string bucket, ObjectLimits limits = {});

  const std::string& name() const { return bucket_; }

  // Creates the bucket's stream when missing: file storage, `replicas`, objects kept `maxAgeSeconds`
  // (0: for ever). False with a message while JetStream cannot answer.
  bool Ensure(int replicas, std::int64_t maxAgeSeconds, std::string* error);

  enum class Lookup { kFound, kMissing, kFailed, kMalformed };
  // The record of object `name`; kMissing when the bucket or the object does not exist or the
  // object was deleted, kFailed (with the reason) when the cluster did not answer, kMalformed when
  // the record is not one this side can trust.
  Lookup Info(const std::string& name, ObjectInfo* info, std::string* error);

  // Puts `size` bytes read from the descriptor `fd` (from offset 0) as object `name`, in chunks,
  // then its record; an older object of the name is replaced and its chunks purged. The bytes
  // must hash to `digest` (read while they are sent), else nothing is kept. The new record in `*info`.
  // `stopping`, asked before each chunk, gives the put up (its chunks purged) when it answers true.
  bool PutFile(const std::string& name, int fd, std::uint64_t size, const std::string& digest, ObjectInfo* info,
               std::string* error, const std::function<bool()>& stopping = nullptr);

  enum class ReadResult { kRead, kUnanswered, kRefused };
  // Reads the chunks of the object `info` in order and hands each to `sink` (false from it ends
  // the read with its reason). kRead only when the chunks are as many as the record says, add up
  // to its size, and their SHA-256 equals its digest; kUnanswered when the cluster gave no reader
  // or no chunk within `waitMs` (worth another try), kRefused for bytes that are not the object.
  ReadResult Read(const ObjectInfo& info, const std::function<bool(std::string_view, std::string*)>& sink,
            std::string* error, int waitMs = 10000);

 private:
  bool PurgeChunks(const std::string& nuid, std::string* error);
  bool LookupRecord(const std::string& subject, natsMsg** msg, Lookup* result, std::string* error);

  jsCtx* js_;
  const std::string bucket_;
  const std::string stream_;
  const ObjectLimits limits_;
};

#endif
