#include "storage/contract_block_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "storage/packed_day_format.h"

namespace {

constexpr std::uint64_t kClockEnd = 100 * 3600;
constexpr std::uint8_t kRefPrevious = 255;
constexpr std::uint8_t kRefNone = 254;
constexpr std::uint8_t kMaxScale = 18;
constexpr std::size_t kColumnHeaderSize = 16;

constexpr double kPow10[kMaxScale + 1] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9,
                                          1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};

std::uint64_t UnZigZag(std::uint64_t u) { return (u >> 1) ^ (0 - (u & 1)); }

// Row i's value from byte i of each of the W planes, the lowest first.
template <unsigned W>
void GatherPlanes(const unsigned char* planes, std::size_t rows, std::uint64_t* u) {
  for (std::size_t i = 0; i < rows; ++i) {
    std::uint64_t v = 0;
    for (unsigned j = 0; j < W; ++j) v |= static_cast<std::uint64_t>(planes[j * rows + i]) << (8 * j);
    u[i] = v;
  }
}

// A column of changes from the last value, read from its W planes and summed in one pass.
template <unsigned W>
void SumPlanes(const unsigned char* planes, std::size_t rows, std::uint64_t step, std::uint64_t* x) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < rows; ++i) {
    std::uint64_t v = 0;
    for (unsigned j = 0; j < W; ++j) v |= static_cast<std::uint64_t>(planes[j * rows + i]) << (8 * j);
    x[i] = sum += step * UnZigZag(v);
  }
}

std::uint32_t GetU32(const unsigned char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

}  // namespace

bool ContractBlockDecoder::ReadHeaders(const unsigned char* payload, std::size_t size, std::string* error) {
  const std::size_t count = table_->fields.size() + 1;
  const auto fail = [error](std::size_t c, const char* why) {
    *error = "column " + std::to_string(c) + ": " + why;
    return false;
  };
  if (GetU32(payload + 4) != count) {
    *error = "column count " + std::to_string(GetU32(payload + 4)) + ", expected " + std::to_string(count);
    return false;
  }
  if ((size - 8) / kColumnHeaderSize < count) {
    *error = "column headers cut short";
    return false;
  }
  columns_.assign(count, Column{});
  std::uint64_t at = 8 + count * kColumnHeaderSize;
  for (std::size_t c = 0; c < count; ++c) {
    const unsigned char* h = payload + 8 + c * kColumnHeaderSize;
    Column& col = columns_[c];
    col.method = h[0];
    col.width = h[1];
    col.scale = h[2];
    col.ref = h[3];
    std::memcpy(&col.step, h + 4, 8);
    col.size = GetU32(h + 12);
    const JournalFieldType type = c == 0 ? JournalFieldType::kU64 : table_->fields[c - 1].type;
    const bool number = col.method == kMethodInteger || col.method == kMethodDecimal || col.method == kMethodClock;
    bool methodFits = false;
    if (type == JournalFieldType::kText) {
      methodFits = col.method == kMethodDictionary || (col.method == kMethodClock && table_->fields[c - 1].size > 8);
    } else if (type == JournalFieldType::kF64) {
      methodFits = col.method == kMethodDecimal || col.method == kMethodXor || col.method == kMethodQuotient ||
                   col.method == kMethodRunningProduct;
    } else {
      methodFits = col.method == kMethodInteger;
    }
    if (!methodFits) return fail(c, "method does not fit the field");
    if (col.width > 8) return fail(c, "value width over 8 bytes");
    if (col.method == kMethodQuotient || col.method == kMethodRunningProduct) {
      if (col.ref >= count || col.scale >= count || col.ref == c || col.scale == c) return fail(c, "bad operands");
    } else if (col.method == kMethodDecimal ? col.scale > kMaxScale : col.scale != 0) {
      return fail(c, "bad scale");
    } else if (number ? col.step == 0 : (col.step != 1 || col.ref != kRefPrevious)) {
      return fail(c, "bad step or reference");
    } else if (col.method == kMethodClock && col.ref < kRefNone) {
      return fail(c, "a clock refers to no other column");
    }
    if (c == 0 && col.ref != kRefPrevious) return fail(c, "slots must be told as changes");
    if (size - at < col.size) return fail(c, "section runs past the block");
    col.section = payload + at;
    at += col.size;
    const std::uint64_t planes = static_cast<std::uint64_t>(col.width) * rows_;
    if (col.method == kMethodDictionary) {
      const std::size_t fieldSize = table_->fields[c - 1].size;
      if (col.size < 4) return fail(c, "dictionary cut short");
      col.entries = GetU32(col.section);
      if (col.entries == 0 || col.entries > rows_ ||
          static_cast<std::uint64_t>(col.size) != 4 + std::uint64_t{col.entries} * fieldSize + planes) {
        return fail(c, "dictionary size does not add up");
      }
      col.dictionary = col.section + 4;
      col.section = col.dictionary + std::size_t{col.entries} * fieldSize;
    } else if (col.size != planes) {
      return fail(c, "section size does not add up");
    }
  }
  if (at != size) {
    *error = "bytes after the last column";
    return false;
  }
  const auto plainNumber = [&](std::size_t c) {
    return c < count && columns_[c].method <= kMethodXor && columns_[c].method != kMethodDictionary &&
           (c == 0 || table_->fields[c - 1].type != JournalFieldType::kText);
  };
  for (std::size_t c = 0; c < count; ++c) {
    const Column& col = columns_[c];
    const bool product = col.method == kMethodRunningProduct;
    if ((col.method == kMethodQuotient || product) &&
        (!(plainNumber(col.ref) || (!product && columns_[col.ref].method == kMethodRunningProduct)) ||
         !plainNumber(col.scale) ||
         (product && (col.ref == 0 || table_->fields[col.ref - 1].type != JournalFieldType::kI32)))) {
      return fail(c, "operands must be numbers stored as such");
    }
    if (col.method > kMethodDecimal || col.ref >= kRefNone) continue;
    if (col.ref >= count || col.ref == c) return fail(c, "reference to no column");
    const Column& target = columns_[col.ref];
    if (target.method > kMethodDecimal || target.ref < kRefNone) return fail(c, "reference to a column it cannot use");
  }
  return true;
}

void ContractBlockDecoder::ReadPlanes(const Column& column, const unsigned char* planes,
                                      std::vector<std::uint64_t>* out) const {
  out->resize(rows_);
  std::uint64_t* u = out->data();
  switch (column.width) {
    case 0: std::fill(u, u + rows_, 0); break;
    case 1: GatherPlanes<1>(planes, rows_, u); break;
    case 2: GatherPlanes<2>(planes, rows_, u); break;
    case 3: GatherPlanes<3>(planes, rows_, u); break;
    case 4: GatherPlanes<4>(planes, rows_, u); break;
    case 5: GatherPlanes<5>(planes, rows_, u); break;
    case 6: GatherPlanes<6>(planes, rows_, u); break;
    case 7: GatherPlanes<7>(planes, rows_, u); break;
    default: GatherPlanes<8>(planes, rows_, u); break;
  }
}

// True when every value of the column is the number 0 (all bits zero), as its planes already read:
// no change stored, from nothing or from the last value.
bool ContractBlockDecoder::AllZero(const Column& col) {
  return col.width == 0 && col.ref >= kRefNone &&
         (col.method == kMethodXor || col.method == kMethodInteger || col.method == kMethodDecimal);
}

// The column's integers x (or a XOR column's bits).
void ContractBlockDecoder::Numbers(std::size_t c) {
  const Column& col = columns_[c];
  std::vector<std::uint64_t>& x = image_[c];
  if (col.method != kMethodXor && col.ref == kRefPrevious && col.width > 0) {
    x.resize(rows_);
    const std::uint64_t t = col.step;
    switch (col.width) {
      case 1: SumPlanes<1>(col.section, rows_, t, x.data()); return;
      case 2: SumPlanes<2>(col.section, rows_, t, x.data()); return;
      case 3: SumPlanes<3>(col.section, rows_, t, x.data()); return;
      case 4: SumPlanes<4>(col.section, rows_, t, x.data()); return;
      default: break;
    }
  }
  ReadPlanes(col, col.section, &x);
  if (AllZero(col)) return;
  if (col.method == kMethodXor) {
    for (std::size_t i = 1; i < rows_; ++i) x[i] ^= x[i - 1];
    return;
  }
  const std::uint64_t t = col.step;
  if (col.ref == kRefPrevious) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < rows_; ++i) x[i] = sum += t * UnZigZag(x[i]);
  } else if (col.ref == kRefNone) {
    for (std::size_t i = 0; i < rows_; ++i) x[i] = t * UnZigZag(x[i]);
  } else {
    const std::uint64_t* ref = image_[col.ref].data();
    for (std::size_t i = 0; i < rows_; ++i) x[i] = ref[i] + t * UnZigZag(x[i]);
  }
}

bool ContractBlockDecoder::Texts(std::size_t c, std::string* error) {
  const Column& col = columns_[c];
  std::vector<std::uint64_t>& u = image_[c];
  ReadPlanes(col, col.section, &u);
  std::vector<std::uint32_t>& rows = text_[c];
  rows.resize(rows_);
  std::uint64_t index = 0;
  for (std::size_t i = 0; i < rows_; ++i) {
    index += UnZigZag(u[i]);
    if (index >= col.entries) {
      *error = "column " + std::to_string(c) + ": dictionary entry out of range";
      return false;
    }
    rows[i] = static_cast<std::uint32_t>(index);
  }
  dictionary_[c].assign(reinterpret_cast<const char*>(col.dictionary), col.entries * table_->fields[c - 1].size);
  return true;
}

bool ContractBlockDecoder::Decode(const JournalFieldTable& table, const unsigned char* payload, std::size_t size,
                                  std::uint64_t firstSlot, std::uint64_t endSlot, std::string* error) {
  table_ = &table;
  rows_ = 0;
  if (size < 8) {
    *error = "contract block cut short";
    return false;
  }
  const std::uint32_t n = GetU32(payload);
  if (n == 0 || n > endSlot - firstSlot) {
    *error = "contract block of " + std::to_string(n) + " records";
    return false;
  }
  rows_ = n;
  if (!ReadHeaders(payload, size, error)) {
    rows_ = 0;
    return false;
  }
  const std::size_t count = columns_.size();
  entryOffsets_.resize(table.fields.size());
  for (std::size_t f = 0; f < table.fields.size(); ++f) entryOffsets_[f] = EntryOffset(table.fields[f].offset);
  // What no field writes: the tick's padding, Filled (1) and what follows it, all but Filled zero.
  std::memset(static_cast<void*>(&blank_), 0, sizeof blank_);
  blank_.tick.Filled = 1;
  image_.resize(count);
  text_.resize(count);
  dictionary_.resize(count);
  // Columns that others refer to first; doubles from their integers only once every x is known.
  for (int pass = 0; pass < 2; ++pass) {
    for (std::size_t c = 0; c < count; ++c) {
      const Column& col = columns_[c];
      if (col.method == kMethodDictionary || col.method == kMethodQuotient || col.method == kMethodRunningProduct ||
          (col.ref < kRefNone) != (pass == 1)) {
        continue;
      }
      Numbers(c);
    }
  }
  for (std::size_t c = 0; c < count; ++c) {
    const Column& col = columns_[c];
    if (col.method == kMethodDictionary && !Texts(c, error)) {
      rows_ = 0;
      return false;
    }
    if (col.method == kMethodClock && !Clock(c, error)) {
      rows_ = 0;
      return false;
    }
    if (col.method != kMethodDecimal || AllZero(col)) continue;
    const double scale = kPow10[col.scale];
    std::uint64_t* x = image_[c].data();
    if (col.scale == 0) {  // dividing by 1 changes nothing
      for (std::size_t i = 0; i < rows_; ++i) {
        x[i] = std::bit_cast<std::uint64_t>(static_cast<double>(static_cast<std::int64_t>(x[i])));
      }
    } else {
      for (std::size_t i = 0; i < rows_; ++i) {
        x[i] = std::bit_cast<std::uint64_t>(static_cast<double>(static_cast<std::int64_t>(x[i])) / scale);
      }
    }
  }
  for (std::size_t c = 0; c < count; ++c) {
    if (columns_[c].method == kMethodRunningProduct) RunningProduct(c);
  }
  for (std::size_t c = 0; c < count; ++c) {
    if (columns_[c].method == kMethodQuotient) Quotient(c);
  }
  MakeSteps();
  const std::vector<std::uint64_t>& slots = image_[0];
  for (std::size_t i = 0; i < rows_; ++i) {
    if (slots[i] < firstSlot || slots[i] >= endSlot || (i > 0 && slots[i] <= slots[i - 1])) {
      *error = "slots out of order or outside their segment";
      rows_ = 0;
      return false;
    }
  }
  return true;
}

// Seconds after midnight back to "HH:MM:SS".
bool ContractBlockDecoder::Clock(std::size_t c, std::string* error) {
  // Ticks come many to a second: a row of the second before reuses its text.
  std::uint64_t lastSecond = kClockEnd;
  std::uint64_t lastText = 0;
  for (std::uint64_t& x : image_[c]) {
    if (x == lastSecond) {
      x = lastText;
      continue;
    }
    lastSecond = x;
    if (x >= kClockEnd) {
      *error = "column " + std::to_string(c) + ": clock time out of range";
      return false;
    }
    const unsigned h = static_cast<unsigned>(x / 3600);
    const unsigned m = static_cast<unsigned>(x / 60 % 60);
    const unsigned s = static_cast<unsigned>(x % 60);
    const char text[8] = {static_cast<char>('0' + h / 10), static_cast<char>('0' + h % 10), ':',
                          static_cast<char>('0' + m / 10), static_cast<char>('0' + m % 10), ':',
                          static_cast<char>('0' + s / 10), static_cast<char>('0' + s % 10)};
    std::memcpy(&x, text, 8);
    lastText = x;
  }
  return true;
}

double ContractBlockDecoder::ValueOf(std::size_t c, std::size_t row) const {
  const std::uint64_t image = image_[c][row];
  switch (c == 0 ? JournalFieldType::kU64 : table_->fields[c - 1].type) {
    case JournalFieldType::kF64: return std::bit_cast<double>(image);
    case JournalFieldType::kI32: return static_cast<double>(static_cast<std::int32_t>(image));
    case JournalFieldType::kU32: return static_cast<double>(static_cast<std::uint32_t>(image));
    case JournalFieldType::kI64: return static_cast<double>(static_cast<std::int64_t>(image));
    default: return static_cast<double>(image);
  }
}

// The bits of A / (B * k), XORed with what is stored.
void ContractBlockDecoder::Quotient(std::size_t c) {
  const Column& col = columns_[c];
  std::vector<std::uint64_t>& x = image_[c];
  ReadPlanes(col, col.section, &x);
  const double k = std::bit_cast<double>(col.step);
  for (std::size_t i = 0; i < rows_; ++i) {
    x[i] ^= std::bit_cast<std::uint64_t>(ValueOf(col.ref, i) / (ValueOf(col.scale, i) * k));
  }
}

// The bits of the last total + (B - B before) * P * k, XORed with what is stored.
void ContractBlockDecoder::RunningProduct(std::size_t c) {
  const Column& col = columns_[c];
  std::vector<std::uint64_t>& x = image_[c];
  ReadPlanes(col, col.section, &x);
  const double k = std::bit_cast<double>(col.step);
  const std::vector<std::uint64_t>& volume = image_[col.ref];
  double total = 0;
  for (std::size_t i = 0; i < rows_; ++i) {
    const std::int64_t change = static_cast<std::int64_t>(static_cast<std::int32_t>(volume[i])) -
                                (i == 0 ? 0 : static_cast<std::int32_t>(volume[i - 1]));
    const double p = total + static_cast<double>(change) * ValueOf(col.scale, i) * k;
    x[i] ^= std::bit_cast<std::uint64_t>(p);
    total = std::bit_cast<double>(x[i]);
  }
}

// Where a record's field lies in a JournalEntry: the sequence, the write time, the tick's fields at
// their record offsets less kJournalTickOffset, and the arrival time after them.
std::size_t ContractBlockDecoder::EntryOffset(std::size_t recordOffset) {
  if (recordOffset == 0) return offsetof(JournalEntry, sequence);
  if (recordOffset == 8) return offsetof(JournalEntry, writeTimeNs);
  if (recordOffset < kJournalTickOffset + offsetof(TickRecord, Filled)) {
    return offsetof(JournalEntry, tick) + recordOffset - kJournalTickOffset;
  }
  return offsetof(JournalEntry, arrivalTimeNs);
}

// How Entry writes a row: the words of a blank entry that hold bytes no field covers, then every field
// from its values or its dictionary.
void ContractBlockDecoder::MakeSteps() {
  const std::vector<JournalField>& fields = table_->fields;
  copy8_.clear();
  copy4_.clear();
  texts_.clear();
  bool covered[sizeof(JournalEntry)] = {};
  for (std::size_t f = 0; f < fields.size(); ++f) {
    const std::size_t to = entryOffsets_[f];
    const std::size_t size = fields[f].size;
    if (columns_[f + 1].method == kMethodDictionary) {
      texts_.push_back({to, size, text_[f + 1].data(), reinterpret_cast<const unsigned char*>(dictionary_[f + 1].data())});
      std::fill(covered + to, covered + to + size, true);
    } else if (size == 4) {
      copy4_.push_back({to, image_[f + 1].data()});
      std::fill(covered + to, covered + to + 4, true);
    } else {
      copy8_.push_back({to, image_[f + 1].data()});  // a number, or a clock's 8 characters
      std::fill(covered + to, covered + to + 8, true);
    }
  }
  blankWords_.clear();
  for (std::size_t w = 0; w < sizeof(JournalEntry) / 8; ++w) {
    if (std::all_of(covered + 8 * w, covered + 8 * w + 8, [](bool c) { return c; })) continue;
    std::uint64_t word;
    std::memcpy(&word, reinterpret_cast<const unsigned char*>(&blank_) + 8 * w, 8);
    blankWords_.push_back({8 * w, word});
  }
}

// The same entry DecodeValidJournalRecord makes of the row's record, without the record.
void ContractBlockDecoder::Entry(std::size_t row, JournalEntry* entry) const {
  auto* base = reinterpret_cast<unsigned char*>(entry);
  for (const BlankWord& w : blankWords_) std::memcpy(base + w.to, &w.value, 8);
  for (const Copy& c : copy8_) std::memcpy(base + c.to, c.image + row, 8);
  for (const Copy& c : copy4_) std::memcpy(base + c.to, c.image + row, 4);
  for (const TextCopy& t : texts_) {
    const unsigned char* from = t.dictionary + std::size_t{t.rows[row]} * t.size;
    switch (t.size) {
      case 9: std::memcpy(base + t.to, from, 9); break;
      case 31: std::memcpy(base + t.to, from, 31); break;
      default: std::memcpy(base + t.to, from, t.size); break;
    }
  }
}

// The rows' entries lie far apart in a segment far larger than the cache: the lines of an entry a few
// rows on are fetched while this one is written.
void ContractBlockDecoder::Entries(JournalEntry* entries, std::uint64_t firstSlot) const {
  constexpr std::size_t kAhead = 4;
  const std::uint64_t* slots = image_[0].data();
  for (std::size_t r = 0; r < rows_; ++r) {
    if (r + kAhead < rows_) {
      const char* next = reinterpret_cast<const char*>(&entries[slots[r + kAhead] - firstSlot]);
      for (std::size_t line = 0; line < sizeof(JournalEntry); line += 64) __builtin_prefetch(next + line, 1);
    }
    Entry(r, &entries[slots[r] - firstSlot]);
  }
}
