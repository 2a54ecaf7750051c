#ifndef QUOTELOOM_CLUSTER_PUBLISH_STATE_H
#define QUOTELOOM_CLUSTER_PUBLISH_STATE_H

#include <string>

#include "cluster/journal_follower.h"

// The publisher's state file: the journal position up to which JetStream has acknowledged every
// record, as JSON {"file":"journal","day":"20240301","offset":1968,"device":2049,"inode":131,
// "sequence":4}. Written to a temporary file, flushed to disk and renamed over the old one, so a crash
// leaves the old or the new state, whole. The publisher thread only.
class PublishState {
 public:
  explicit PublishState(std::string path) : path_(std::move(path)) {}

  // False with a message when the file exists but cannot be read or is not a state file; a missing
  // file gives true and an empty position. A state of a publisher that followed the time-stream files
  // gives its day from the start, with a note saying so.
  bool Load(JournalPosition* out, std::string* error, std::string* note = nullptr) const;
  bool Save(const JournalPosition& position, std::string* error) const;

  const std::string& path() const { return path_; }

 private:
  const std::string path_;
};

#endif
