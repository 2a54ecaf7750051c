#ifndef QUOTELOOM_CORE_GBK_H
#define QUOTELOOM_CORE_GBK_H

#include <string>
#include <string_view>

// Conversions at the boundary to the vendor API, whose texts are GBK (code page 936).
// Bytes that cannot be converted become '?'. Any thread.
std::string GbkToUtf8(std::string_view gbk);
std::string Utf8ToGbk(std::string_view utf8);

#endif
