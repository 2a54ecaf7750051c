#ifndef QUOTELOOM_CORE_FILE_LOCK_H
#define QUOTELOOM_CORE_FILE_LOCK_H

#include <mutex>

// The file lock: held by the tick writer around each open-append-close of a stored file and by a
// replay thread around each read pass over a stored file. Never held together with another lock.
std::mutex& TheFileLock();

#endif
