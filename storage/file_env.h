#ifndef QUOTELOOM_STORAGE_FILE_ENV_H
#define QUOTELOOM_STORAGE_FILE_ENV_H

#include <cstddef>

#include "core/open_regular_file.h"

// What the tick writer needs of the file system, behind an interface so tests can inject a failed
// open, write or close. Implementations are called by the tick writer thread only.

class FileEnv {
 public:
  enum class AppendStatus {
    kOk,           // the bytes are in the file and it is closed
    kOpenFailed,   // nothing was written (also: the name is not a regular file)
    kWriteFailed,  // opened, but the bytes are not all in the file (any partial tail is removed)
    kCloseFailed,  // written, but closing reported an error (the data may not be on disk)
  };

  virtual ~FileEnv() = default;

  // True when something of any file type has that name.
  virtual bool Exists(const char* path) = 0;
  // Creates a directory (and any missing one above it), never through a link; the result is not
  // reported, a later open tells.
  virtual void CreateDirectory(const char* path) = 0;
  // One open-append-close: opens a regular file for appending (creating it when missing, shared
  // with other readers and writers) without ever waiting on the open, writes the bytes with one
  // write and closes the file. On failure `*error` holds the errno of the failing step (ELOOP when
  // the file or one of its folders is a symbolic link).
  virtual AppendStatus AppendToFile(const char* path, const char* data, std::size_t size, int* error) = 0;
};

#endif
