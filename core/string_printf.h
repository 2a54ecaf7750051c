#ifndef QUOTELOOM_CORE_STRING_PRINTF_H
#define QUOTELOOM_CORE_STRING_PRINTF_H

#include <cstdarg>
#include <string>

// printf into a std::string of whatever length the result needs.
std::string StringPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string StringPrintfV(const char* format, va_list args);

#endif
