#ifndef QUOTELOOM_STORAGE_CONTRACT_BLOCK_ENCODER_H
#define QUOTELOOM_STORAGE_CONTRACT_BLOCK_ENCODER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/journal_field_table.h"

// Turns one contract's records of a segment into the columns of a packed day's contract block
// (docs/tick-files.md): each column encoded for what it holds, before compression. Keeps its
// buffers from one block to the next. One thread.
class ContractBlockEncoder {
 public:
  // `records` are whole journal records of `table`'s version whose gaps are zero; `slots` increase.
  void Encode(const JournalFieldTable& table, const unsigned char* const* records, const std::uint64_t* slots,
              std::size_t n, std::string* payload);

 private:
  struct Column {
    std::uint8_t method = 0;
    std::uint8_t width = 0;
    std::uint8_t scale = 0;
    std::uint8_t ref = 255;
    std::uint64_t step = 1;
    std::string section;
  };

  void LoadNumbers(const JournalFieldTable& table, const unsigned char* const* records, std::size_t n);
  bool ToDecimal(std::size_t column, std::size_t n, std::uint8_t* scale);
  // These return the sum of the stored values' bit widths, a measure of what they cost.
  std::uint64_t EncodeNumber(std::size_t column, std::size_t n, const std::vector<int>& candidates);
  std::uint64_t EncodeXor(std::size_t column, std::size_t n);
  void EncodeRunningProduct(const JournalFieldTable& table, std::size_t column, int volume, int price, std::size_t n,
                            std::uint64_t cost);
  double ValueAt(const JournalFieldTable& table, int column, std::size_t row) const;
  bool EncodeClock(std::size_t column, const JournalField& field, const unsigned char* const* records, std::size_t n);
  bool EncodeQuotient(const JournalFieldTable& table, std::size_t column, int a, int b, std::size_t n);
  void EncodeText(const JournalField& field, const unsigned char* const* records, std::size_t n, Column* out);
  std::uint64_t PutPlanes(std::size_t n, Column* out);

  std::vector<std::vector<std::uint64_t>> x_;  // per column: the integer (or the double's bits)
  std::vector<Column> columns_;
  std::vector<std::uint64_t> stored_;
  std::vector<std::uint32_t> dictionaryRows_;
};

#endif
