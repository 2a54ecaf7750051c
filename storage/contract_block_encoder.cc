#include "storage/contract_block_encoder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numeric>

#include "storage/crc32.h"
#include "storage/packed_day_format.h"

namespace {

constexpr int kRefPrevious = 255;
constexpr int kRefNone = 254;
constexpr std::uint8_t kMaxScale = 18;
constexpr double kMaxExactInteger = 9007199254740992.0;  // 2^53

constexpr double kPow10[kMaxScale + 1] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9,
                                          1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};

// Adding 1.5 * 2^52 to a double below 2^51 in magnitude rounds it to an integer (ties to even, as
// llrint does), and the sum's bits less the constant's are that integer.
constexpr double kRoundingShift = 6755399441055744.0;
constexpr double kRoundingLimit = 2251799813685248.0;  // 2^51
// Rows the grid test takes at a time before it looks for a row off the grid.
constexpr std::size_t kGridChunk = 256;
// A block of at least this many rows judges a column's references on every fourth row.
constexpr std::size_t kSampledRows = 64;
constexpr std::size_t kSampleStride = 4;

std::uint64_t ZigZag(std::uint64_t d) {
  return (d << 1) ^ static_cast<std::uint64_t>(static_cast<std::int64_t>(d) >> 63);
}

// std::bit_width without a branch on zero, for the cost sums.
std::uint64_t BitWidth(std::uint64_t v) {
  return static_cast<std::uint64_t>(63 - __builtin_clzll(v | 1)) + (v != 0 ? 1 : 0);
}

// The integer k with k / 10^e == v bit for bit, when there is one.
bool OnGrid(std::uint64_t bits, std::uint8_t e, std::int64_t* k) {
  const double v = std::bit_cast<double>(bits);
  const double p = v * kPow10[e];
  if (!(std::fabs(p) < kMaxExactInteger)) return false;
  *k = std::llrint(p);
  const double back = static_cast<double>(*k);
  return std::bit_cast<std::uint64_t>(e == 0 ? back : back / kPow10[e]) == bits;
}

// OnGrid for `n` values at once, two to a vector register, for values whose integers lie below
// 2^51; false when any value is not on the grid or lies beyond that.
bool AllOnGrid(const std::uint64_t* x, std::size_t n, std::uint8_t e, std::uint64_t* k) {
  using Doubles = double __attribute__((vector_size(16)));
  using Words = std::uint64_t __attribute__((vector_size(16)));
  const Doubles scale = {kPow10[e], kPow10[e]};
  const Doubles shift = {kRoundingShift, kRoundingShift};
  const Doubles limit = {kRoundingLimit, kRoundingLimit};
  const Words shiftBits = std::bit_cast<Words>(shift);
  const Words magnitude = {~std::uint64_t{0} >> 1, ~std::uint64_t{0} >> 1};
  Words off = {0, 0};
  std::size_t i = 0;
  for (; i + 2 <= n; i += 2) {
    Words bits;
    std::memcpy(&bits, x + i, sizeof bits);
    const Doubles p = std::bit_cast<Doubles>(bits) * scale;
    const Doubles shifted = p + shift;
    const Doubles back = (shifted - shift) / scale;
    const auto inRange = std::bit_cast<Doubles>(std::bit_cast<Words>(p) & magnitude) < limit;  // all ones where true
    off |= (std::bit_cast<Words>(back) ^ bits) | ~std::bit_cast<Words>(inRange);
    const Words integers = std::bit_cast<Words>(shifted) - shiftBits;
    std::memcpy(k + i, &integers, sizeof integers);
  }
  bool all = (off[0] | off[1]) == 0;
  for (; i < n && all; ++i) {
    std::int64_t one = 0;
    all = OnGrid(x[i], e, &one);
    k[i] = static_cast<std::uint64_t>(one);
  }
  return all;
}

// True when the `n` values are all the same.
bool AllSame(const std::uint64_t* x, std::size_t n) {
  constexpr std::size_t kStretch = 32;  // looked at without a branch, then given up on at a difference
  for (std::size_t i = 0; i < n; i += kStretch) {
    const std::size_t end = std::min(n, i + kStretch);
    std::uint64_t differ = 0;
    for (std::size_t j = i; j < end; ++j) differ |= x[j] ^ x[0];
    if (differ != 0) return false;
  }
  return true;
}

std::uint64_t Load64(const unsigned char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// memcmp(a, b, size) == 0 inline, eight bytes at a time, for the short text fields.
bool SameBytes(const unsigned char* a, const unsigned char* b, std::size_t size) {
  if (size < 8) return std::memcmp(a, b, size) == 0;
  std::uint64_t differ = Load64(a + size - 8) ^ Load64(b + size - 8);
  for (std::size_t i = 0; i + 8 <= size; i += 8) differ |= Load64(a + i) ^ Load64(b + i);
  return differ == 0;
}

// Tells whether a 64-bit value is a multiple of a step, and divides multiples by it, with
// multiplications: step = 2^shift · odd, and odd · inverse == 1 modulo 2^64.
class ExactDivisor {
 public:
  explicit ExactDivisor(std::uint64_t step)
      : shift_(std::countr_zero(step)), low_((std::uint64_t{1} << shift_) - 1), inverse_(Inverse(step >> shift_)),
        limit_(~std::uint64_t{0} / (step >> shift_)) {}

  bool Divides(std::uint64_t a) const { return (a & low_) == 0 && (a >> shift_) * inverse_ <= limit_; }
  // d / step for a multiple d of the step, d signed.
  std::uint64_t Quotient(std::uint64_t d) const {
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(d) >> shift_) * inverse_;
  }

 private:
  static std::uint64_t Inverse(std::uint64_t odd) {
    std::uint64_t v = odd;  // right in the low 3 bits; each round doubles that
    for (int i = 0; i < 5; ++i) v *= 2 - odd * v;
    return v;
  }

  int shift_;
  std::uint64_t low_;
  std::uint64_t inverse_;
  std::uint64_t limit_;
};

// The greatest common divisor of the changes' magnitudes; 0 when all are 0.
std::uint64_t CommonStep(const std::uint64_t* d, std::size_t n) {
  std::size_t i = 0;
  while (i < n && d[i] == 0) ++i;
  if (i == n) return 0;
  const auto magnitude = [](std::uint64_t v) { return static_cast<std::int64_t>(v) < 0 ? 0 - v : v; };
  std::uint64_t step = magnitude(d[i]);
  // A step of 2^k (a price grid of two units, say) divides every change whose low k bits are zero.
  if (step > 1 && std::has_single_bit(step)) {
    std::uint64_t low = 0;
    for (std::size_t j = i + 1; j < n; ++j) low |= d[j];
    if ((low & (step - 1)) == 0) return step;
  }
  ExactDivisor divisor(step);
  for (++i; i < n && step != 1; ++i) {
    const std::uint64_t a = magnitude(d[i]);
    if (divisor.Divides(a)) continue;
    step = std::gcd(step, a);
    divisor = ExactDivisor(step);
  }
  return step;
}

bool Digit(unsigned char c) { return c >= '0' && c <= '9'; }

// Seconds after midnight of a field that holds exactly "HH:MM:SS" and NULs after it.
bool ClockSeconds(const unsigned char* text, std::size_t size, std::uint64_t* seconds) {
  if (size < 9 || !Digit(text[0]) || !Digit(text[1]) || text[2] != ':' || !Digit(text[3]) || text[3] > '5' ||
      !Digit(text[4]) || text[5] != ':' || !Digit(text[6]) || text[6] > '5' || !Digit(text[7])) {
    return false;
  }
  for (std::size_t i = 8; i < size; ++i) {
    if (text[i] != 0) return false;
  }
  *seconds = ((text[0] - '0') * 10 + (text[1] - '0')) * 3600 + ((text[3] - '0') * 10 + (text[4] - '0')) * 60 +
             (text[6] - '0') * 10 + (text[7] - '0');
  return true;
}

}  // namespace

void ContractBlockEncoder::StartSection(Column* col) {
  if (col->started) payloadSize_ = col->start;
  col->started = true;
  col->start = payloadSize_;
  col->size = 0;
}

unsigned char* ContractBlockEncoder::Extend(Column* col, std::size_t bytes) {
  if (payload_.size() - payloadSize_ < bytes) payload_.resize(std::max(payloadSize_ + bytes, 2 * payload_.size()));
  unsigned char* at = payload_.data() + payloadSize_;
  payloadSize_ += bytes;
  col->size += bytes;
  return at;
}

void ContractBlockEncoder::ResetColumns(std::size_t count) {
  columns_.resize(count);
  for (Column& col : columns_) {
    col.method = 0;
    col.width = 0;
    col.scale = 0;
    col.ref = 255;
    col.step = 1;
    col.started = false;
    col.start = 0;
    col.size = 0;
  }
}

// Row by row, each record read front to back once, its numeric fields into their columns.
void ContractBlockEncoder::LoadNumbers(const JournalFieldTable& table, const unsigned char* const* records,
                                       std::size_t n) {
  wide_.clear();
  signed32_.clear();
  unsigned32_.clear();
  for (std::size_t f = 0; f < table.fields.size(); ++f) {
    const JournalField& field = table.fields[f];
    const Load load{field.offset, x_[f + 1].data()};
    switch (field.type) {
      case JournalFieldType::kI32: signed32_.push_back(load); break;
      case JournalFieldType::kU32: unsigned32_.push_back(load); break;
      case JournalFieldType::kText: break;
      default: wide_.push_back(load); break;
    }
  }
  // A contract's records lie apart in the segment, out of the reach of the hardware's own prefetching.
  constexpr std::size_t kAhead = 4;
  const std::size_t size = table.recordSize;
  for (std::size_t i = 0; i < n; ++i) {
    if (i + kAhead < n) {
      const unsigned char* ahead = records[i + kAhead];
      for (std::size_t b = 0; b < size; b += 64) __builtin_prefetch(ahead + b);
      __builtin_prefetch(ahead + size - 1);
    }
    const unsigned char* record = records[i];
    for (const Load& load : wide_) std::memcpy(&load.to[i], record + load.offset, 8);
    for (const Load& load : signed32_) {
      std::int32_t v;
      std::memcpy(&v, record + load.offset, 4);
      load.to[i] = static_cast<std::uint64_t>(static_cast<std::int64_t>(v));
    }
    for (const Load& load : unsigned32_) {
      std::uint32_t v;
      std::memcpy(&v, record + load.offset, 4);
      load.to[i] = v;
    }
  }
}

// Replaces the column's doubles by their integers k on the coarsest decimal grid every value lies
// on. A value off the grid makes the grid finer and the rows are tested again from the first.
bool ContractBlockEncoder::ToDecimal(std::size_t column, std::size_t n, std::uint8_t* scale) {
  const std::uint64_t* x = x_[column].data();
  std::uint64_t* k = stored_.data();
  std::uint8_t e = 0;
  std::int64_t one;
  for (std::size_t i = 0; i < n;) {
    const std::size_t m = std::min(kGridChunk, n - i);
    // Most columns hold long runs of one price: a run needs one test.
    if (AllSame(x + i, m) && OnGrid(x[i], e, &one)) {
      std::fill(k + i, k + i + m, static_cast<std::uint64_t>(one));
      i += m;
      continue;
    }
    if (AllOnGrid(x + i, m, e, k + i)) {
      i += m;
      continue;
    }
    std::size_t j = i;
    for (; j < i + m && OnGrid(x[j], e, &one); ++j) k[j] = static_cast<std::uint64_t>(one);
    if (j == i + m) {
      i += m;
      continue;
    }
    do {
      if (++e > kMaxScale) return false;
    } while (!OnGrid(x[j], e, &one));
    i = 0;
  }
  x_[column].swap(stored_);
  *scale = e;
  return true;
}

// Picks the reference that leaves the smallest changes, takes out their common step, and stores them.
std::uint64_t ContractBlockEncoder::EncodeNumber(std::size_t c, std::size_t n, const Candidates& candidates,
                                                 bool wantCost) {
  const std::uint64_t* x = x_[c].data();
  // The bit widths of the changes from `ref` on every `stride`th row.
  const auto cost = [&](int ref, std::size_t stride) {
    std::uint64_t sum = 0;
    if (ref == kRefNone) {
      for (std::size_t i = 0; i < n; i += stride) sum += BitWidth(ZigZag(x[i]));
    } else if (ref == kRefPrevious) {
      sum = BitWidth(ZigZag(x[0]));
      for (std::size_t i = stride; i < n; i += stride) sum += BitWidth(ZigZag(x[i] - x[i - 1]));
    } else {
      const std::uint64_t* r = x_[ref].data();
      for (std::size_t i = 0; i < n; i += stride) sum += BitWidth(ZigZag(x[i] - r[i]));
    }
    return sum;
  };
  // A column of one value is told from its previous row (the first reference of every list).
  int best = candidates.refs[0];
  if (candidates.count > 1 && !AllSame(x, n)) {
    const std::size_t stride = n >= kSampledRows ? kSampleStride : 1;
    std::uint64_t bestCost = ~std::uint64_t{0};
    for (int k = 0; k < candidates.count; ++k) {
      const std::uint64_t sum = cost(candidates.refs[k], stride);
      if (sum < bestCost) {
        bestCost = sum;
        best = candidates.refs[k];
      }
    }
  }
  std::uint64_t* d = stored_.data();
  if (best == kRefNone) {
    std::memcpy(d, x, n * sizeof *d);
  } else if (best == kRefPrevious) {
    d[0] = x[0];
    for (std::size_t i = 1; i < n; ++i) d[i] = x[i] - x[i - 1];
  } else {
    const std::uint64_t* r = x_[best].data();
    for (std::size_t i = 0; i < n; ++i) d[i] = x[i] - r[i];
  }
  std::uint64_t step = CommonStep(d, n);
  if (step == 0 || step > static_cast<std::uint64_t>(INT64_MAX)) step = 1;
  std::uint64_t rest = 0;
  if (step == 1) {
    d[0] = ZigZag(d[0]);
    for (std::size_t i = 1; i < n; ++i) {
      d[i] = ZigZag(d[i]);
      rest |= d[i];
    }
  } else {
    const ExactDivisor divisor(step);
    d[0] = ZigZag(divisor.Quotient(d[0]));
    for (std::size_t i = 1; i < n; ++i) {
      d[i] = ZigZag(divisor.Quotient(d[i]));
      rest |= d[i];
    }
  }
  Column& col = columns_[c];
  col.ref = static_cast<std::uint8_t>(best);
  col.step = step;
  StartSection(&col);
  WritePlanes(n, rest, &col);
  std::uint64_t bits = 0;
  if (wantCost) {
    for (std::size_t i = 0; i < n; ++i) bits += BitWidth(d[i]);
  }
  return bits;
}

std::uint64_t ContractBlockEncoder::EncodeXor(std::size_t c, std::size_t n, bool wantCost) {
  const std::uint64_t* x = x_[c].data();
  stored_[0] = x[0];
  for (std::size_t i = 1; i < n; ++i) stored_[i] = x[i] ^ x[i - 1];
  Column& col = columns_[c];
  col.method = kMethodXor;
  col.ref = kRefPrevious;
  col.step = 1;
  StartSection(&col);
  return PutPlanes(n, &col, wantCost);
}

// The column's values as the reader has them: a decimal column's integers divided back.
void ContractBlockEncoder::ValuesOf(const JournalFieldTable& table, int column, std::size_t n,
                                    std::vector<double>* out) const {
  if (out->size() < n) out->resize(n);
  double* v = out->data();
  const std::uint64_t* x = x_[column].data();
  if (columns_[column].method == kMethodDecimal) {
    const double divisor = kPow10[columns_[column].scale];
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<double>(static_cast<std::int64_t>(x[i])) / divisor;
    return;
  }
  switch (table.fields[column - 1].type) {
    case JournalFieldType::kF64: std::memcpy(v, x, n * sizeof *v); break;
    case JournalFieldType::kU64:
      for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<double>(x[i]);
      break;
    default:
      for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<double>(static_cast<std::int64_t>(x[i]));
      break;
  }
}

// Keeps a running total of value (the turnover) as its XOR with the last total plus the volume's
// change times the price times k, when that leaves less than `cost`.
void ContractBlockEncoder::EncodeRunningProduct(const JournalFieldTable& table, std::size_t c, int volume, int price,
                                                std::size_t n, std::uint64_t cost) {
  ValuesOf(table, static_cast<int>(c), n, &total_);
  ValuesOf(table, price, n, &b_);
  const double* total = total_.data();
  const double* prices = b_.data();
  const std::uint64_t* volumes = x_[volume].data();
  const auto change = [&](std::size_t i) {
    return static_cast<double>(static_cast<std::int64_t>(volumes[i] - (i == 0 ? 0 : volumes[i - 1])));
  };
  double k = 0;
  for (std::size_t i = 1; i < n && k == 0; ++i) {
    const double guess = (total[i] - total[i - 1]) / (change(i) * prices[i]);
    if (std::isfinite(guess) && guess >= 0.5) k = std::nearbyint(guess);
  }
  if (k == 0) return;
  std::uint64_t productCost = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double p = (i == 0 ? 0.0 : total[i - 1]) + change(i) * prices[i] * k;
    stored_[i] = std::bit_cast<std::uint64_t>(total[i]) ^ std::bit_cast<std::uint64_t>(p);
    productCost += BitWidth(stored_[i]);
  }
  if (productCost >= cost) return;
  std::memcpy(x_[c].data(), total, n * sizeof *total);
  Column& col = columns_[c];
  col.method = kMethodRunningProduct;
  col.ref = static_cast<std::uint8_t>(volume);
  col.scale = static_cast<std::uint8_t>(price);
  col.step = std::bit_cast<std::uint64_t>(k);
  StartSection(&col);
  PutPlanes(n, &col, false);
}

// A field whose every value is the text of a clock time is kept as its seconds.
bool ContractBlockEncoder::EncodeClock(std::size_t c, const JournalField& field, const unsigned char* const* records,
                                       std::size_t n) {
  std::uint64_t* x = x_[c].data();
  for (std::size_t i = 0; i < n; ++i) {
    if (!ClockSeconds(records[i] + field.offset, field.size, &x[i])) return false;
  }
  columns_[c].method = kMethodClock;
  Candidates candidates;
  candidates.Add(kRefPrevious);
  candidates.Add(kRefNone);
  EncodeNumber(c, n, candidates);
  return true;
}

// Keeps a double as its XOR with A / (B * k) when that leaves less (an average price from the
// turnover and volume); false when it does not.
bool ContractBlockEncoder::EncodeQuotient(const JournalFieldTable& table, std::size_t c, int a, int b,
                                          std::size_t n) {
  const std::uint64_t* x = x_[c].data();
  ValuesOf(table, a, n, &a_);
  ValuesOf(table, b, n, &b_);
  double k = 0;
  for (std::size_t i = 0; i < n && k == 0; ++i) {
    const double v = std::bit_cast<double>(x[i]);
    const double guess = a_[i] / (b_[i] * v);
    if (std::isfinite(guess) && guess >= 0.5) k = std::nearbyint(guess);
  }
  if (k == 0) return false;
  std::uint64_t xorCost = 0;
  std::uint64_t quotientCost = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double p = a_[i] / (b_[i] * k);
    stored_[i] = x[i] ^ std::bit_cast<std::uint64_t>(p);
    quotientCost += BitWidth(stored_[i]);
    xorCost += BitWidth(x[i] ^ (i == 0 ? 0 : x[i - 1]));
  }
  if (quotientCost >= xorCost) return false;
  Column& col = columns_[c];
  col.method = kMethodQuotient;
  col.ref = static_cast<std::uint8_t>(a);
  col.scale = static_cast<std::uint8_t>(b);
  col.step = std::bit_cast<std::uint64_t>(k);
  StartSection(&col);
  PutPlanes(n, &col, false);
  return true;
}

void ContractBlockEncoder::EncodeText(const JournalField& field, const unsigned char* const* records, std::size_t n,
                                      Column* out) {
  seen_.clear();
  dictionaryRows_.clear();
  std::uint32_t previous = 0;
  std::uint32_t index = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::string_view text(reinterpret_cast<const char*>(records[i] + field.offset), field.size);
    if (i == 0 || !SameBytes(records[i] + field.offset, records[i - 1] + field.offset, field.size)) {
      const auto [it, added] = seen_.emplace(text, static_cast<std::uint32_t>(dictionaryRows_.size()));
      if (added) dictionaryRows_.push_back(static_cast<std::uint32_t>(i));
      index = it->second;
    }
    stored_[i] = ZigZag(static_cast<std::uint64_t>(index) - previous);
    previous = index;
  }
  out->method = kMethodDictionary;
  out->ref = kRefPrevious;
  out->step = 1;
  StartSection(out);
  const auto entries = static_cast<std::uint32_t>(dictionaryRows_.size());
  std::memcpy(Extend(out, 4), &entries, 4);
  for (std::uint32_t row : dictionaryRows_) std::memcpy(Extend(out, field.size), records[row] + field.offset, field.size);
  PutPlanes(n, out, false);
}

std::uint64_t ContractBlockEncoder::PutPlanes(std::size_t n, Column* out, bool wantCost) {
  const std::uint64_t* s = stored_.data();
  std::uint64_t rest = 0;
  for (std::size_t i = 1; i < n; ++i) rest |= s[i];
  WritePlanes(n, rest, out);
  std::uint64_t cost = 0;
  if (wantCost) {
    for (std::size_t i = 0; i < n; ++i) cost += BitWidth(s[i]);
  }
  return cost;
}

void ContractBlockEncoder::WritePlanes(std::size_t n, std::uint64_t rest, Column* out) {
  const std::uint64_t* s = stored_.data();
  const std::size_t width = (std::bit_width(rest | s[0]) + 7) / 8;
  const std::size_t restWidth = (std::bit_width(rest) + 7) / 8;
  out->width = static_cast<std::uint8_t>(width);
  unsigned char* planes = Extend(out, width * n);
  for (std::size_t j = 0; j < restWidth; ++j) {
    unsigned char* plane = planes + j * n;
    const unsigned shift = static_cast<unsigned>(8 * j);
    for (std::size_t i = 0; i < n; ++i) plane[i] = static_cast<unsigned char>(s[i] >> shift);
  }
  // The high planes only the first value reaches (a time's first reading, a constant's first row).
  for (std::size_t j = restWidth; j < width; ++j) {
    unsigned char* plane = planes + j * n;
    std::memset(plane, 0, n);
    plane[0] = static_cast<unsigned char>(s[0] >> (8 * j));
  }
}

std::string_view ContractBlockEncoder::Encode(const JournalFieldTable& table, const unsigned char* const* records,
                                              const std::uint64_t* slots, std::size_t n) {
  ClearUpperVectorHalves();
  const std::size_t count = table.fields.size() + 1;
  // Buffers only grow (ToDecimal swaps a column's with stored_), so no block pays to clear them.
  x_.resize(count);
  for (auto& x : x_) {
    if (x.size() < n) x.resize(n);
  }
  ResetColumns(count);
  payloadSize_ = 8 + count * 16;
  if (payload_.size() < payloadSize_) payload_.resize(payloadSize_);
  if (stored_.size() < n) stored_.resize(n);
  std::memcpy(x_[0].data(), slots, n * sizeof *slots);
  LoadNumbers(table, records, n);

  // Doubles become integers where they lie on a decimal grid, the last price first so that others
  // can be told as their distance from it.
  if (&table != named_.table) {
    named_ = {&table,
              table.Find("LastPrice") + 1,
              table.Find("Sequence") + 1,
              table.Find("WriteTimeNs") + 1,
              table.Find("ArrivalTimeNs") + 1,
              table.Find("AveragePrice") + 1,
              table.Find("Turnover") + 1,
              table.Find("Volume") + 1};
  }
  const int last = named_.last;
  for (int pass = 0; pass < 2; ++pass) {
    for (std::size_t c = 1; c < count; ++c) {
      if ((pass == 0) != (static_cast<int>(c) == last)) continue;
      if (table.fields[c - 1].type != JournalFieldType::kF64) continue;
      std::uint8_t scale = 0;
      if (ToDecimal(c, n, &scale)) {
        columns_[c].method = kMethodDecimal;
        columns_[c].scale = scale;
      } else {
        columns_[c].method = kMethodXor;
      }
    }
  }

  const int sequence = named_.sequence;
  const int writeTime = named_.writeTime;
  const int arrival = named_.arrival;
  const int average = named_.average;
  const int turnover = named_.turnover;
  const int volume = named_.volume;
  columns_[0].method = kMethodInteger;
  Candidates previousOnly;
  previousOnly.Add(kRefPrevious);
  EncodeNumber(0, n, previousOnly);
  for (std::size_t c = 1; c < count; ++c) {
    const JournalField& field = table.fields[c - 1];
    if (field.type == JournalFieldType::kText) {
      if (!EncodeClock(c, field, records, n)) EncodeText(field, records, n, &columns_[c]);
      continue;
    }
    const bool runningTotal = static_cast<int>(c) == turnover && field.type == JournalFieldType::kF64 && volume > 0 &&
                              table.fields[volume - 1].type == JournalFieldType::kI32 && last > 0;
    if (columns_[c].method == kMethodXor) {
      if (runningTotal) {
        EncodeRunningProduct(table, c, volume, last, n, EncodeXor(c, n, true));
        continue;
      }
      const bool quotient = static_cast<int>(c) == average && turnover > 0 && volume > 0 &&
                            table.fields[turnover - 1].type == JournalFieldType::kF64;
      if (!quotient || !EncodeQuotient(table, c, turnover, volume, n)) EncodeXor(c, n);
      continue;
    }
    Candidates candidates;
    candidates.Add(kRefPrevious);
    candidates.Add(kRefNone);
    if (static_cast<int>(c) == sequence) candidates.Add(0);
    if (static_cast<int>(c) == writeTime && arrival > 0) candidates.Add(arrival);
    if (columns_[c].method == kMethodDecimal && last > 0 && static_cast<int>(c) != last &&
        columns_[last].method == kMethodDecimal && columns_[last].scale == columns_[c].scale) {
      candidates.Add(last);
    }
    const std::uint64_t cost = EncodeNumber(c, n, candidates, runningTotal);
    if (runningTotal) EncodeRunningProduct(table, c, volume, last, n, cost);
  }

  // The count, the column headers, then the sections, which already lie after the headers' room.
  unsigned char* head = payload_.data();
  const auto rows = static_cast<std::uint32_t>(n);
  const auto columns = static_cast<std::uint32_t>(count);
  std::memcpy(head, &rows, 4);
  std::memcpy(head + 4, &columns, 4);
  for (std::size_t c = 0; c < count; ++c) {
    const Column& col = columns_[c];
    unsigned char* h = head + 8 + c * 16;
    h[0] = col.method;
    h[1] = col.width;
    h[2] = col.scale;
    h[3] = col.ref;
    std::memcpy(h + 4, &col.step, 8);
    const auto size = static_cast<std::uint32_t>(col.size);
    std::memcpy(h + 12, &size, 4);
  }
  return {reinterpret_cast<const char*>(payload_.data()), payloadSize_};
}
