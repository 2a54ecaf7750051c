#ifndef QUOTELOOM_CORE_ERRNO_TEXT_H
#define QUOTELOOM_CORE_ERRNO_TEXT_H

#include <string>

// The system's message for an errno value ("Too many open files"); any thread.
std::string ErrnoText(int error);

#endif
