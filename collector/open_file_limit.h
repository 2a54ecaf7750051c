#ifndef QUOTELOOM_COLLECTOR_OPEN_FILE_LIMIT_H
#define QUOTELOOM_COLLECTOR_OPEN_FILE_LIMIT_H

#include <string>

// Raises the soft limit of open files (RLIMIT_NOFILE) to the hard limit, so that connections do not
// take the descriptors the tick writer needs. Returns false with the reason in `message` when the
// limit stays lower. Called once at collector start, before any thread opens files.
bool RaiseOpenFileLimit(std::string* message);

#endif
