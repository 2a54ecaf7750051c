#include "core/gbk.h"

#include <iconv.h>

#include <cerrno>

namespace {

std::string Convert(std::string_view in, const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  std::string out;
  out.resize(in.size() * 4 + 4);
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = out.data();
  size_t dstLeft = out.size();
  while (srcLeft > 0) {
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) break;  // cannot happen with four bytes per input byte
    // An invalid or incomplete sequence: emit '?' and skip one byte.
    if (dstLeft == 0) break;
    *dst++ = '?';
    --dstLeft;
    ++src;
    --srcLeft;
  }
  out.resize(out.size() - dstLeft);
  iconv_close(cd);
  return out;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) { return Convert(gbk, "UTF-8", "GBK"); }

std::string Utf8ToGbk(std::string_view utf8) { return Convert(utf8, "GBK", "UTF-8"); }
