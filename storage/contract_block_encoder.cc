#include "storage/contract_block_encoder.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <numeric>
#include <string_view>
#include <unordered_map>

#include "storage/packed_day_format.h"

namespace {

constexpr int kRefPrevious = 255;
constexpr int kRefNone = 254;
constexpr std::uint8_t kMaxScale = 18;
constexpr double kMaxExactInteger = 9007199254740992.0;  // 2^53

constexpr double kPow10[kMaxScale + 1] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9,
                                          1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};

std::uint64_t ZigZag(std::uint64_t d) {
  return (d << 1) ^ static_cast<std::uint64_t>(static_cast<std::int64_t>(d) >> 63);
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

void PutU32(std::string* out, std::uint32_t v) { out->append(reinterpret_cast<const char*>(&v), 4); }

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

double AsDouble(std::uint64_t x, JournalFieldType type) {
  switch (type) {
    case JournalFieldType::kF64: return std::bit_cast<double>(x);
    case JournalFieldType::kU64: return static_cast<double>(x);
    default: return static_cast<double>(static_cast<std::int64_t>(x));
  }
}

}  // namespace

void ContractBlockEncoder::LoadNumbers(const JournalFieldTable& table, const unsigned char* const* records,
                                       std::size_t n) {
  for (std::size_t f = 0; f < table.fields.size(); ++f) {
    const JournalField& field = table.fields[f];
    std::vector<std::uint64_t>& x = x_[f + 1];
    switch (field.type) {
      case JournalFieldType::kI32:
        for (std::size_t i = 0; i < n; ++i) {
          std::int32_t v;
          std::memcpy(&v, records[i] + field.offset, 4);
          x[i] = static_cast<std::uint64_t>(static_cast<std::int64_t>(v));
        }
        break;
      case JournalFieldType::kU32:
        for (std::size_t i = 0; i < n; ++i) {
          std::uint32_t v;
          std::memcpy(&v, records[i] + field.offset, 4);
          x[i] = v;
        }
        break;
      case JournalFieldType::kText:
        break;
      default:
        for (std::size_t i = 0; i < n; ++i) std::memcpy(&x[i], records[i] + field.offset, 8);
        break;
    }
  }
}

// Replaces the column's doubles by their integers k on the finest decimal grid every value lies on.
bool ContractBlockEncoder::ToDecimal(std::size_t column, std::size_t n, std::uint8_t* scale) {
  std::vector<std::uint64_t>& x = x_[column];
  std::uint8_t e = 0;
  std::int64_t k;
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0 && x[i] == x[i - 1]) continue;
    while (!OnGrid(x[i], e, &k)) {
      if (++e > kMaxScale) return false;
    }
  }
  std::vector<std::uint64_t>& out = stored_;
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0 && x[i] == x[i - 1]) {
      out[i] = out[i - 1];
      continue;
    }
    if (!OnGrid(x[i], e, &k)) return false;
    out[i] = static_cast<std::uint64_t>(k);
  }
  x.swap(out);
  *scale = e;
  return true;
}

// Picks the reference that leaves the smallest changes, takes out their common step, and stores them.
std::uint64_t ContractBlockEncoder::EncodeNumber(std::size_t c, std::size_t n, const std::vector<int>& candidates) {
  const std::uint64_t* x = x_[c].data();
  // The changes against a reference into stored_.
  const auto changes = [&](int ref) {
    std::uint64_t* d = stored_.data();
    if (ref == kRefNone) {
      for (std::size_t i = 0; i < n; ++i) d[i] = x[i];
    } else if (ref == kRefPrevious) {
      d[0] = x[0];
      for (std::size_t i = 1; i < n; ++i) d[i] = x[i] - x[i - 1];
    } else {
      const std::uint64_t* r = x_[ref].data();
      for (std::size_t i = 0; i < n; ++i) d[i] = x[i] - r[i];
    }
  };
  int best = candidates.front();
  if (candidates.size() > 1) {
    std::uint64_t bestCost = ~std::uint64_t{0};
    for (int ref : candidates) {
      changes(ref);
      std::uint64_t cost = 0;
      for (std::size_t i = 0; i < n; ++i) cost += std::bit_width(ZigZag(stored_[i]));
      if (cost < bestCost) {
        bestCost = cost;
        best = ref;
      }
    }
  }
  changes(best);
  std::uint64_t step = 0;
  for (std::size_t i = 0; i < n && step != 1; ++i) {
    const std::uint64_t d = stored_[i];
    if (d == 0) continue;
    const std::uint64_t a = static_cast<std::int64_t>(d) < 0 ? 0 - d : d;
    if (step == 0) {
      step = a;
    } else if (a % step != 0) {
      step = std::gcd(step, a);
    }
  }
  if (step == 0 || step > static_cast<std::uint64_t>(INT64_MAX)) step = 1;
  const auto t = static_cast<std::int64_t>(step);
  for (std::size_t i = 0; i < n; ++i) {
    const std::int64_t d = static_cast<std::int64_t>(stored_[i]);
    stored_[i] = ZigZag(static_cast<std::uint64_t>(step == 1 ? d : d / t));
  }
  Column& col = columns_[c];
  col.ref = static_cast<std::uint8_t>(best);
  col.step = step;
  return PutPlanes(n, &col);
}

std::uint64_t ContractBlockEncoder::EncodeXor(std::size_t c, std::size_t n) {
  const std::vector<std::uint64_t>& x = x_[c];
  std::uint64_t previous = 0;
  for (std::size_t i = 0; i < n; ++i) {
    stored_[i] = x[i] ^ previous;
    previous = x[i];
  }
  Column& col = columns_[c];
  col.method = kMethodXor;
  col.ref = kRefPrevious;
  col.step = 1;
  return PutPlanes(n, &col);
}

// The value as the reader has it: a decimal column's integers divided back.
double ContractBlockEncoder::ValueAt(const JournalFieldTable& table, int column, std::size_t i) const {
  const Column& col = columns_[column];
  if (col.method == kMethodDecimal) {
    return static_cast<double>(static_cast<std::int64_t>(x_[column][i])) / kPow10[col.scale];
  }
  return AsDouble(x_[column][i], table.fields[column - 1].type);
}

// Keeps a running total of value (the turnover) as its XOR with the last total plus the volume's
// change times the price times k, when that leaves less than `cost`.
void ContractBlockEncoder::EncodeRunningProduct(const JournalFieldTable& table, std::size_t c, int volume, int price,
                                                std::size_t n, std::uint64_t cost) {
  std::vector<double> total(n);
  for (std::size_t i = 0; i < n; ++i) total[i] = ValueAt(table, static_cast<int>(c), i);
  const auto change = [&](std::size_t i) {
    return static_cast<double>(static_cast<std::int64_t>(x_[volume][i] - (i == 0 ? 0 : x_[volume][i - 1])));
  };
  double k = 0;
  for (std::size_t i = 1; i < n && k == 0; ++i) {
    const double guess = (total[i] - total[i - 1]) / (change(i) * ValueAt(table, price, i));
    if (std::isfinite(guess) && guess >= 0.5) k = std::nearbyint(guess);
  }
  if (k == 0) return;
  std::uint64_t productCost = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double p = (i == 0 ? 0.0 : total[i - 1]) + change(i) * ValueAt(table, price, i) * k;
    stored_[i] = std::bit_cast<std::uint64_t>(total[i]) ^ std::bit_cast<std::uint64_t>(p);
    productCost += std::bit_width(stored_[i]);
  }
  if (productCost >= cost) return;
  for (std::size_t i = 0; i < n; ++i) x_[c][i] = std::bit_cast<std::uint64_t>(total[i]);
  Column& col = columns_[c];
  col.method = kMethodRunningProduct;
  col.ref = static_cast<std::uint8_t>(volume);
  col.scale = static_cast<std::uint8_t>(price);
  col.step = std::bit_cast<std::uint64_t>(k);
  PutPlanes(n, &col);
}

// A field whose every value is the text of a clock time is kept as its seconds.
bool ContractBlockEncoder::EncodeClock(std::size_t c, const JournalField& field, const unsigned char* const* records,
                                       std::size_t n) {
  std::vector<std::uint64_t>& x = x_[c];
  for (std::size_t i = 0; i < n; ++i) {
    if (!ClockSeconds(records[i] + field.offset, field.size, &x[i])) return false;
  }
  columns_[c].method = kMethodClock;
  EncodeNumber(c, n, {kRefPrevious, kRefNone});
  return true;
}

// Keeps a double as its XOR with A / (B * k) when that leaves less (an average price from the
// turnover and volume); false when it does not.
bool ContractBlockEncoder::EncodeQuotient(const JournalFieldTable& table, std::size_t c, int a, int b,
                                          std::size_t n) {
  const std::vector<std::uint64_t>& x = x_[c];
  const auto value = [&](int column, std::size_t i) { return ValueAt(table, column, i); };
  double k = 0;
  for (std::size_t i = 0; i < n && k == 0; ++i) {
    const double v = std::bit_cast<double>(x[i]);
    const double guess = value(a, i) / (value(b, i) * v);
    if (std::isfinite(guess) && guess >= 0.5) k = std::nearbyint(guess);
  }
  if (k == 0) return false;
  std::uint64_t xorCost = 0;
  std::uint64_t quotientCost = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double p = value(a, i) / (value(b, i) * k);
    stored_[i] = x[i] ^ std::bit_cast<std::uint64_t>(p);
    quotientCost += std::bit_width(stored_[i]);
    xorCost += std::bit_width(x[i] ^ (i == 0 ? 0 : x[i - 1]));
  }
  if (quotientCost >= xorCost) return false;
  Column& col = columns_[c];
  col.method = kMethodQuotient;
  col.ref = static_cast<std::uint8_t>(a);
  col.scale = static_cast<std::uint8_t>(b);
  col.step = std::bit_cast<std::uint64_t>(k);
  PutPlanes(n, &col);
  return true;
}

void ContractBlockEncoder::EncodeText(const JournalField& field, const unsigned char* const* records, std::size_t n,
                                      Column* out) {
  std::unordered_map<std::string_view, std::uint32_t> seen;
  dictionaryRows_.clear();
  std::uint32_t previous = 0;
  std::uint32_t index = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::string_view text(reinterpret_cast<const char*>(records[i] + field.offset), field.size);
    if (i == 0 || std::memcmp(text.data(), records[i - 1] + field.offset, field.size) != 0) {
      const auto [it, added] = seen.emplace(text, static_cast<std::uint32_t>(dictionaryRows_.size()));
      if (added) dictionaryRows_.push_back(static_cast<std::uint32_t>(i));
      index = it->second;
    }
    stored_[i] = ZigZag(static_cast<std::uint64_t>(index) - previous);
    previous = index;
  }
  out->method = kMethodDictionary;
  out->ref = kRefPrevious;
  out->step = 1;
  out->section.clear();
  PutU32(&out->section, static_cast<std::uint32_t>(dictionaryRows_.size()));
  for (std::uint32_t row : dictionaryRows_) {
    out->section.append(reinterpret_cast<const char*>(records[row] + field.offset), field.size);
  }
  const std::string entries = std::move(out->section);
  PutPlanes(n, out);
  out->section.insert(0, entries);
}

std::uint64_t ContractBlockEncoder::PutPlanes(std::size_t n, Column* out) {
  std::uint64_t all = 0;
  std::uint64_t cost = 0;
  for (std::size_t i = 0; i < n; ++i) {
    all |= stored_[i];
    cost += std::bit_width(stored_[i]);
  }
  const std::size_t width = (std::bit_width(all) + 7) / 8;
  out->width = static_cast<std::uint8_t>(width);
  out->section.resize(width * n);
  auto* planes = reinterpret_cast<unsigned char*>(out->section.data());
  for (std::size_t j = 0; j < width; ++j) {
    unsigned char* plane = planes + j * n;
    for (std::size_t i = 0; i < n; ++i) plane[i] = static_cast<unsigned char>(stored_[i] >> (8 * j));
  }
  return cost;
}

void ContractBlockEncoder::Encode(const JournalFieldTable& table, const unsigned char* const* records,
                                  const std::uint64_t* slots, std::size_t n, std::string* payload) {
  const std::size_t count = table.fields.size() + 1;
  x_.resize(count);
  for (auto& x : x_) x.resize(n);
  columns_.assign(count, Column{});
  stored_.resize(n);
  std::memcpy(x_[0].data(), slots, n * sizeof *slots);
  LoadNumbers(table, records, n);

  // Doubles become integers where they lie on a decimal grid, the last price first so that others
  // can be told as their distance from it.
  const int last = table.Find("LastPrice") + 1;
  std::vector<std::size_t> order;
  if (last > 0) order.push_back(static_cast<std::size_t>(last));
  for (std::size_t f = 0; f < table.fields.size(); ++f) {
    if (static_cast<int>(f + 1) != last) order.push_back(f + 1);
  }
  for (std::size_t c : order) {
    const JournalField& field = table.fields[c - 1];
    if (field.type != JournalFieldType::kF64) continue;
    std::uint8_t scale = 0;
    if (ToDecimal(c, n, &scale)) {
      columns_[c].method = kMethodDecimal;
      columns_[c].scale = scale;
    } else {
      columns_[c].method = kMethodXor;
    }
  }

  const int sequence = table.Find("Sequence") + 1;
  const int writeTime = table.Find("WriteTimeNs") + 1;
  const int arrival = table.Find("ArrivalTimeNs") + 1;
  const int average = table.Find("AveragePrice") + 1;
  const int turnover = table.Find("Turnover") + 1;
  const int volume = table.Find("Volume") + 1;
  columns_[0].method = kMethodInteger;
  EncodeNumber(0, n, {kRefPrevious});
  for (std::size_t c = 1; c < count; ++c) {
    const JournalField& field = table.fields[c - 1];
    std::vector<int> candidates = {kRefPrevious, kRefNone};
    if (field.type == JournalFieldType::kText) {
      if (!EncodeClock(c, field, records, n)) EncodeText(field, records, n, &columns_[c]);
      continue;
    }
    const bool runningTotal = static_cast<int>(c) == turnover && field.type == JournalFieldType::kF64 && volume > 0 &&
                              table.fields[volume - 1].type == JournalFieldType::kI32 && last > 0;
    if (columns_[c].method == kMethodXor) {
      if (runningTotal) {
        EncodeRunningProduct(table, c, volume, last, n, EncodeXor(c, n));
        continue;
      }
      const bool quotient = static_cast<int>(c) == average && turnover > 0 && volume > 0 &&
                            table.fields[turnover - 1].type == JournalFieldType::kF64;
      if (!quotient || !EncodeQuotient(table, c, turnover, volume, n)) EncodeXor(c, n);
      continue;
    }
    if (static_cast<int>(c) == sequence) candidates.push_back(0);
    if (static_cast<int>(c) == writeTime && arrival > 0) candidates.push_back(arrival);
    if (columns_[c].method == kMethodDecimal && last > 0 && static_cast<int>(c) != last &&
        columns_[last].method == kMethodDecimal && columns_[last].scale == columns_[c].scale) {
      candidates.push_back(last);
    }
    const std::uint64_t cost = EncodeNumber(c, n, candidates);
    if (runningTotal) EncodeRunningProduct(table, c, volume, last, n, cost);
  }

  payload->clear();
  PutU32(payload, static_cast<std::uint32_t>(n));
  PutU32(payload, static_cast<std::uint32_t>(count));
  for (const Column& col : columns_) {
    payload->push_back(static_cast<char>(col.method));
    payload->push_back(static_cast<char>(col.width));
    payload->push_back(static_cast<char>(col.scale));
    payload->push_back(static_cast<char>(col.ref));
    payload->append(reinterpret_cast<const char*>(&col.step), 8);
    PutU32(payload, static_cast<std::uint32_t>(col.section.size()));
  }
  for (const Column& col : columns_) payload->append(col.section);
}
