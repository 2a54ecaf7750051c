#ifndef QUOTELOOM_CLUSTER_PUBLISH_STATE_H
#define QUOTELOOM_CLUSTER_PUBLISH_STATE_H

#include <string>

#include "cluster/time_stream_follower.h"

// The publisher's state file: the position up to which JetStream has acknowledged every line, as
// JSON {"day":"20240301","offset":123,"device":2049,"inode":131,"tail":"<hex>"} (the
// tail: the last bytes before the offset; "inside_long_line":true while the position is inside a
// line longer than any tick line). Written to a temporary file,
// flushed to disk and renamed over the old one, so a crash leaves the old or the new state, whole.
// The publisher thread only.
class PublishState {
 public:
  explicit PublishState(std::string path) : path_(std::move(path)) {}

  // False with a message when the file exists but cannot be read or is not a state file; a missing
  // file gives true and an empty position.
  bool Load(FollowPosition* out, std::string* error) const;
  bool Save(const FollowPosition& position, std::string* error) const;

  const std::string& path() const { return path_; }

 private:
  const std::string path_;
};

#endif
