#ifndef QUOTELOOM_STORAGE_POSIX_FILE_ENV_H
#define QUOTELOOM_STORAGE_POSIX_FILE_ENV_H

#include <string>

#include "storage/file_env.h"

// The real file system through open(O_APPEND)/write/close, so a line reaches the file in one
// write and a killed process leaves only whole lines. The open never blocks: a named pipe, a
// device or a symbolic link in place of a stored file, or a link as one of its folders, counts as
// a failed open (ELOOP for a link). Relative paths lie below the working folder `root` (empty: the
// current folder). Any one thread at a time.
class PosixFileEnv : public FileEnv {
 public:
  explicit PosixFileEnv(std::string root = {}) : root_(std::move(root)) {}

  bool Exists(const char* path) override;
  void CreateDirectory(const char* path) override;
  AppendStatus AppendToFile(const char* path, const char* data, std::size_t size, int* error) override;

 private:
  const std::string root_;
};

#endif
