#ifndef QUOTELOOM_CORE_PROCESS_LOCK_H
#define QUOTELOOM_CORE_PROCESS_LOCK_H

#include <string>
#include <string_view>

// An advisory lock (flock) on one file, taken at start and held until the object goes or the
// process ends, so that two programs never work on the same folder or state file. The kernel drops
// it with the process, so a killed holder never blocks a restart; the holder's pid and name are
// written into the file for the message of the next one. Owned by the thread that takes it.
class ProcessLock {
 public:
  // The lock file of a working folder: one collector (quoteloomd or quoteloom) or archive per folder.
  static constexpr const char* kWorkFolderLockName = "quoteloom.lock";

  ProcessLock() = default;
  ~ProcessLock() { Release(); }
  ProcessLock(const ProcessLock&) = delete;
  ProcessLock& operator=(const ProcessLock&) = delete;

  // Locks the file `path` (created when missing; a link or a file that is not a regular one is
  // refused) for `program`. `what` names the guarded thing in a message ("the working folder /srv/q").
  // Empty on success; otherwise "WHAT is in use by process PID (PROGRAM)" or "cannot lock WHAT: REASON".
  std::string Take(const std::string& path, const std::string& what, std::string_view program);
  // Take() on the lock file of the working folder `folder`, named by its absolute path.
  std::string TakeWorkFolder(const std::string& folder, std::string_view program);
  void Release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

#endif
