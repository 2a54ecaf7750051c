#include "storage/tick_line.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace {

// Appends to a fixed buffer; the buffer is sized for the longest line, so nothing is ever cut.
class LineWriter {
 public:
  explicit LineWriter(char (&out)[kTickLineSize]) : out_(out) {}

  template <std::size_t N>
  void Text(const char (&field)[N]) {
    Raw(field, strnlen(field, N));
  }
  void Int(int value) {
    length_ += static_cast<std::size_t>(std::snprintf(out_ + length_, kTickLineSize - length_, "%d", value));
  }
  void Double(double value, NumberStyle style) {
    char number[kNumberSize];
    const std::size_t n = FormatNumber(value, style, number);
    Raw(number, n);
  }
  void Comma() { Raw(",", 1); }
  void Raw(const char* bytes, std::size_t n) {
    std::memcpy(out_ + length_, bytes, n);
    length_ += n;
    out_[length_] = '\0';
  }
  std::size_t length() const { return length_; }

 private:
  char* out_;
  std::size_t length_ = 0;
};

// No comma, CR, LF or other control byte in the part of the field that is written.
template <std::size_t N>
bool FieldIsClean(const char (&field)[N]) {
  const std::size_t n = strnlen(field, N);
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(field[i]);
    if (c == ',' || c < 0x20 || c == 0x7f) return false;
  }
  return true;
}

}  // namespace

bool LineTextIsClean(const TickRecord& r) {
  return FieldIsClean(r.InstrumentID) && FieldIsClean(r.TradingDay) && FieldIsClean(r.ActionDay) &&
         FieldIsClean(r.UpdateTime);
}

std::size_t FormatNumber(double value, NumberStyle style, char (&out)[kNumberSize]) {
  // to_chars rounds exactly as glibc's printf does and costs a fraction of it; the tests compare
  // the two over millions of values. The buffer fits the longest value, so it never fails.
  const auto format = style == NumberStyle::kFixed ? std::chars_format::fixed : std::chars_format::general;
  const int precision = style == NumberStyle::kFixed ? 2 : 6;
  const std::to_chars_result r = std::to_chars(out, out + sizeof(out) - 1, value, format, precision);
  *r.ptr = '\0';
  return static_cast<std::size_t>(r.ptr - out);
}

std::size_t BuildTickLine(const TickRecord& r, const char* writeStamp, NumberStyle style,
                          char (&out)[kTickLineSize]) {
  LineWriter w(out);
  w.Raw(writeStamp, strnlen(writeStamp, 14));
  w.Comma(); w.Text(r.InstrumentID);
  w.Comma(); w.Text(r.TradingDay);
  w.Comma(); w.Text(r.ActionDay);
  w.Comma(); w.Text(r.UpdateTime);
  w.Comma(); w.Int(r.UpdateMillisec);
  w.Comma(); w.Double(r.LastPrice, style);
  w.Comma(); w.Int(r.Volume);
  w.Comma(); w.Double(r.HighestPrice, style);
  w.Comma(); w.Double(r.LowestPrice, style);
  w.Comma(); w.Double(r.OpenPrice, style);
  w.Comma(); w.Double(r.ClosePrice, style);
  w.Comma(); w.Double(r.AveragePrice, style);
  w.Comma(); w.Double(r.AskPrice1, style);
  w.Comma(); w.Int(r.AskVolume1);
  w.Comma(); w.Double(r.BidPrice1, style);
  w.Comma(); w.Int(r.BidVolume1);
  w.Comma(); w.Double(r.UpperLimitPrice, style);
  w.Comma(); w.Double(r.LowerLimitPrice, style);
  w.Comma(); w.Double(r.OpenInterest, style);
  w.Comma(); w.Double(r.Turnover, style);
  w.Comma(); w.Double(r.PreClosePrice, style);
  w.Comma(); w.Double(r.PreOpenInterest, style);
  w.Comma(); w.Double(r.PreSettlementPrice, style);
  w.Raw("\r\n", 2);
  return w.length();
}

bool SplitTickLine(std::string_view line, TickLineFields* out) {
  // Commas are found 16 bytes at a time: fields are a few bytes long, so a search call per field
  // costs more than the fields themselves.
  const char* const base = line.data();
  const std::size_t size = line.size();
  std::size_t start = 0;
  int i = 0;
  const auto cut = [&](std::size_t comma) {
    if (i == kTickLineFieldCount - 1) return false;  // a field too many
    out->field[i++] = std::string_view(base + start, comma - start);
    start = comma + 1;
    return true;
  };
  std::size_t at = 0;
#if defined(__SSE2__)
  const __m128i commas = _mm_set1_epi8(',');
  for (; at + 16 <= size; at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + at));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, commas)));
    while (mask != 0) {
      if (!cut(at + static_cast<std::size_t>(__builtin_ctz(mask)))) return false;
      mask &= mask - 1;
    }
  }
#endif
  for (; at < size; ++at) {
    if (base[at] == ',' && !cut(at)) return false;
  }
  if (i != kTickLineFieldCount - 1) return false;
  out->field[i] = std::string_view(base + start, size - start);
  out->content = line.substr(out->field[tick_field::kWriteStamp].size() + 1);
  return true;
}

std::size_t CountTickLineFields(std::string_view line) {
  return static_cast<std::size_t>(std::count(line.begin(), line.end(), ',')) + 1;
}

