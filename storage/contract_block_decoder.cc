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
  if (column.width == 0) {
    std::fill(u, u + rows_, 0);
    return;
  }
  for (std::size_t i = 0; i < rows_; ++i) u[i] = planes[i];
  for (std::size_t j = 1; j < column.width; ++j) {
    const unsigned char* plane = planes + j * rows_;
    const unsigned shift = static_cast<unsigned>(8 * j);
    for (std::size_t i = 0; i < rows_; ++i) u[i] |= static_cast<std::uint64_t>(plane[i]) << shift;
  }
}

// The column's integers x (or a XOR column's bits).
void ContractBlockDecoder::Numbers(std::size_t c) {
  const Column& col = columns_[c];
  std::vector<std::uint64_t>& x = image_[c];
  ReadPlanes(col, col.section, &x);
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
    if (col.method != kMethodDecimal) continue;
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
  steps_.clear();
  for (std::size_t f = 0; f < table.fields.size(); ++f) {
    CopyStep step;
    step.to = entryOffsets_[f];
    step.size = table.fields[f].size;
    if (columns_[f + 1].method == kMethodDictionary) {
      step.rows = text_[f + 1].data();
      step.dictionary = reinterpret_cast<const unsigned char*>(dictionary_[f + 1].data());
    } else {
      step.image = image_[f + 1].data();
    }
    steps_.push_back(step);
  }
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
  for (std::uint64_t& x : image_[c]) {
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

// The same entry DecodeValidJournalRecord makes of the row's record, without the record.
void ContractBlockDecoder::Entry(std::size_t row, JournalEntry* entry) const {
  *entry = blank_;
  auto* base = reinterpret_cast<unsigned char*>(entry);
  for (const CopyStep& step : steps_) {
    unsigned char* to = base + step.to;
    if (step.rows != nullptr) {
      std::memcpy(to, step.dictionary + std::size_t{step.rows[row]} * step.size, step.size);
    } else if (step.size == 4) {
      std::memcpy(to, step.image + row, 4);
    } else {
      std::memcpy(to, step.image + row, 8);  // a number, or a clock's 8 characters
    }
  }
}

void ContractBlockDecoder::Entries(JournalEntry* entries, std::uint64_t firstSlot) const {
  const std::uint64_t* slots = image_[0].data();
  for (std::size_t r = 0; r < rows_; ++r) Entry(r, &entries[slots[r] - firstSlot]);
}
