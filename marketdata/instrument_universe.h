#ifndef QUOTELOOM_MARKETDATA_INSTRUMENT_UNIVERSE_H
#define QUOTELOOM_MARKETDATA_INSTRUMENT_UNIVERSE_H

// The contract codes the collector subscribes: every product of a fixed table for the month of the
// trading day and the 24 months after it, ordered by month, then by table slot. Codes that do not
// trade are generated all the same. Used by the API's callback thread only.
class InstrumentUniverse {
 public:
  static constexpr int kSlots = 70;
  static constexpr int kMonths = 25;
  static constexpr int kMaxCodes = kSlots * kMonths;
  static constexpr int kCodeSize = 10;  // at most 9 characters

  // YYMM of a yyyymmdd trading day: 20210603 gives 2106.
  static int MonthNumber(int tradingDay);
  // The month after a YYMM month number: 2112 gives 2201.
  static int NextMonth(int monthNumber);

  // Replaces the list with the codes for `tradingDay` (yyyymmdd). Returns the count.
  int Generate(int tradingDay);

  int count() const { return count_; }
  const char* code(int index) const { return codes_[index]; }

 private:
  int count_ = 0;
  char codes_[kMaxCodes][kCodeSize] = {};
};

#endif
