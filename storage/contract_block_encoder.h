#ifndef QUOTELOOM_STORAGE_CONTRACT_BLOCK_ENCODER_H
#define QUOTELOOM_STORAGE_CONTRACT_BLOCK_ENCODER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "storage/journal_field_table.h"

// Turns one contract's records of a segment into the columns of a packed day's contract block
// (docs/tick-files.md): each column encoded for what it holds, before compression. Keeps its
// buffers from one block to the next. One thread.
class ContractBlockEncoder {
 public:
  // `records` are whole journal records of `table`'s version whose gaps are zero; `slots` increase.
  // The payload stays in the encoder until the next call.
  std::string_view Encode(const JournalFieldTable& table, const unsigned char* const* records,
                          const std::uint64_t* slots, std::size_t n);

 private:
  struct Column {
    std::uint8_t method = 0;
    std::uint8_t width = 0;
    std::uint8_t scale = 0;
    std::uint8_t ref = 255;
    std::uint64_t step = 1;
    // The section's place in the payload; sections follow each other in column order.
    bool started = false;
    std::size_t start = 0;
    std::size_t size = 0;
  };
  // The references a number column may be told from, the first preferred on a tie.
  struct Candidates {
    int refs[4] = {};
    int count = 0;
    void Add(int ref) { refs[count++] = ref; }
  };
  // Where a numeric field lies in a record and where its values go.
  struct Load {
    std::uint16_t offset = 0;
    std::uint64_t* to = nullptr;
  };

  void ResetColumns(std::size_t count);
  // Starts the column's section at the payload's end; a column written again (always the last one
  // written) starts over where it began.
  void StartSection(Column* col);
  // Room for `bytes` more of the column's section at the payload's end.
  unsigned char* Extend(Column* col, std::size_t bytes);
  void LoadNumbers(const JournalFieldTable& table, const unsigned char* const* records, std::size_t n);
  bool ToDecimal(std::size_t column, std::size_t n, std::uint8_t* scale);
  // These return the sum of the stored values' bit widths, a measure of what they cost (EncodeNumber
  // and EncodeXor only when `wantCost`).
  std::uint64_t EncodeNumber(std::size_t column, std::size_t n, const Candidates& candidates, bool wantCost = false);
  std::uint64_t EncodeXor(std::size_t column, std::size_t n, bool wantCost = false);
  void EncodeRunningProduct(const JournalFieldTable& table, std::size_t column, int volume, int price, std::size_t n,
                            std::uint64_t cost);
  void ValuesOf(const JournalFieldTable& table, int column, std::size_t n, std::vector<double>* out) const;
  bool EncodeClock(std::size_t column, const JournalField& field, const unsigned char* const* records, std::size_t n);
  bool EncodeQuotient(const JournalFieldTable& table, std::size_t column, int a, int b, std::size_t n);
  void EncodeText(const JournalField& field, const unsigned char* const* records, std::size_t n, Column* out);
  // Appends stored_'s byte planes to the column's section; the bit widths' sum when `wantCost`.
  std::uint64_t PutPlanes(std::size_t n, Column* out, bool wantCost);
  // The same, given `rest`, the OR of every value of stored_ but the first.
  void WritePlanes(std::size_t n, std::uint64_t rest, Column* out);

  // The columns the methods single out (0 when the table has no such field), found once per table.
  struct NamedColumns {
    const JournalFieldTable* table = nullptr;
    int last = 0;
    int sequence = 0;
    int writeTime = 0;
    int arrival = 0;
    int average = 0;
    int turnover = 0;
    int volume = 0;
  };
  NamedColumns named_;
  std::vector<std::vector<std::uint64_t>> x_;  // per column: the integer (or the double's bits)
  std::vector<Column> columns_;
  std::vector<unsigned char> payload_;  // grows only, so that no block pays to clear it
  std::size_t payloadSize_ = 0;
  std::vector<std::uint64_t> stored_;
  std::vector<std::uint32_t> dictionaryRows_;
  std::unordered_map<std::string_view, std::uint32_t> seen_;
  std::vector<Load> wide_, signed32_, unsigned32_;
  std::vector<double> total_, a_, b_;
};

#endif
