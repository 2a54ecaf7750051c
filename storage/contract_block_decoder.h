#ifndef QUOTELOOM_STORAGE_CONTRACT_BLOCK_DECODER_H
#define QUOTELOOM_STORAGE_CONTRACT_BLOCK_DECODER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "storage/journal_field_table.h"
#include "storage/journal_format.h"

// Reads a packed day's contract block (docs/tick-files.md) back into records, checking every count,
// size and reference before use; keeps nothing of the payload after Decode. Keeps its buffers from one block to the next. One thread.
class ContractBlockDecoder {
 public:
  // Decodes `payload`; its slots must increase inside [firstSlot, endSlot). False with the reason.
  bool Decode(const JournalFieldTable& table, const unsigned char* payload, std::size_t size,
              std::uint64_t firstSlot, std::uint64_t endSlot, std::string* error);

  std::size_t rows() const { return rows_; }
  std::uint64_t slot(std::size_t row) const { return image_[0][row]; }
  void Entry(std::size_t row, JournalEntry* entry) const;
  // Every row's entry at entries[slot - firstSlot].
  void Entries(JournalEntry* entries, std::uint64_t firstSlot) const;

 private:
  struct Column {
    std::uint8_t method = 0;
    std::uint8_t width = 0;
    std::uint8_t scale = 0;
    std::uint8_t ref = 255;
    std::uint64_t step = 1;
    std::uint32_t size = 0;
    const unsigned char* section = nullptr;
    std::uint32_t entries = 0;              // dictionary
    const unsigned char* dictionary = nullptr;
  };

  bool ReadHeaders(const unsigned char* payload, std::size_t size, std::string* error);
  void ReadPlanes(const Column& column, const unsigned char* planes, std::vector<std::uint64_t>* out) const;
  void Numbers(std::size_t c);
  bool Texts(std::size_t c, std::string* error);
  bool Clock(std::size_t c, std::string* error);
  double ValueOf(std::size_t c, std::size_t row) const;
  void Quotient(std::size_t c);
  void RunningProduct(std::size_t c);
  static std::size_t EntryOffset(std::size_t recordOffset);
  void MakeSteps();
  static bool AllZero(const Column& col);

  const JournalFieldTable* table_ = nullptr;
  std::size_t rows_ = 0;
  std::vector<Column> columns_;
  std::vector<std::vector<std::uint64_t>> image_;  // per column: x, then the field's bytes
  std::vector<std::vector<std::uint32_t>> text_;   // per column: dictionary entry of each row
  std::vector<std::string> dictionary_;            // per column: its entries, kept past the payload
  std::vector<std::size_t> entryOffsets_;          // per field: where it lies in a JournalEntry
  JournalEntry blank_;                             // an entry before its fields are written
  // How Entry writes a row (MakeSteps): blank words first, then each field over them.
  struct BlankWord {
    std::size_t to = 0;
    std::uint64_t value = 0;
  };
  struct Copy {
    std::size_t to = 0;
    const std::uint64_t* image = nullptr;
  };
  struct TextCopy {
    std::size_t to = 0;
    std::size_t size = 0;
    const std::uint32_t* rows = nullptr;
    const unsigned char* dictionary = nullptr;
  };
  std::vector<BlankWord> blankWords_;
  std::vector<Copy> copy8_;
  std::vector<Copy> copy4_;
  std::vector<TextCopy> texts_;
};

#endif
