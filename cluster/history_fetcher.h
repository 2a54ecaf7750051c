#ifndef QUOTELOOM_CLUSTER_HISTORY_FETCHER_H
#define QUOTELOOM_CLUSTER_HISTORY_FETCHER_H

#include <nats/nats.h>

#include <cstdint>
#include <string>

#include "objectstore/object_bucket.h"

// The object name of a packed day in the history bucket: "<day>.qth".
std::string HistoryObjectName(const std::string& day);

// Gets packed days from the cluster's history bucket into <out>/History/<day>.qth: the chunks go to
// a temporary file beside it, which is renamed into place only once their SHA-256 equals the
// object's digest. No link is followed below `outRoot`. The thread that owns the JetStream context.
class HistoryFetcher {
 public:
  HistoryFetcher(jsCtx* js, const std::string& bucket, std::string outRoot, ObjectLimits limits = {});

  enum class Result { kFetched, kMissing, kFailed };
  // `day` is yyyymmdd, already checked; the bytes written in `*bytes`, the reason in `*error`.
  Result Fetch(const std::string& day, std::uint64_t* bytes, std::string* error);

 private:
  ObjectBucket::Lookup LookUp(const std::string& day, ObjectInfo* info, std::string* error);
  bool WriteDay(const std::string& day, const ObjectInfo& info, std::string* error);
  // Reads the object into `fd` from its start, again while the cluster does not answer.
  bool ReadInto(int fd, const ObjectInfo& info, std::string* error);

  ObjectBucket bucket_;
  const std::string outRoot_;
};

#endif
