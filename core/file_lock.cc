#include "core/file_lock.h"

std::mutex& TheFileLock() {
  static std::mutex* lock = new std::mutex();  // never destroyed: used until the process ends
  return *lock;
}
