#include "marketdata/instrument_universe.h"

#include <cstdio>

namespace {

// Slot 0 and slots 21 on carry four month digits (YYMM), slots 1 to 20 three (YMM).
// AP stands in slots 1 and 19, so every month yields it twice.
const char* const kProducts[InstrumentUniverse::kSlots] = {
    "sc",
    "AP", "FG", "CF", "JR", "LR", "MA", "OI", "PM", "RI", "RM",
    "RS", "SF", "SM", "SR", "TA", "WH", "ZC", "CY", "AP", "CJ",
    "a", "b", "bb", "c", "cs", "eg", "fb", "i", "jd", "jm",
    "j", "l", "m", "p", "pp", "v", "y", "ag", "al", "au",
    "bu", "cu", "fu", "hc", "ni", "pb", "rb", "ru", "sn", "sp",
    "wr", "zn", "IC", "IF", "IH", "T", "TF", "TS",
};

bool ThreeDigitSlot(int slot) { return slot >= 1 && slot <= 20; }

}  // namespace

int InstrumentUniverse::MonthNumber(int tradingDay) {
  // Integer parts taken by truncating doubles, as the month arithmetic has always done.
  const int millions = static_cast<int>(tradingDay * 1e-6) * 1000000;
  return static_cast<int>((tradingDay - millions) * 0.01);
}

int InstrumentUniverse::NextMonth(int monthNumber) {
  const int year = static_cast<int>(monthNumber * 0.01);
  const int month = monthNumber - year * 100;
  return month < 12 ? monthNumber + 1 : (year + 1) * 100 + 1;
}

int InstrumentUniverse::Generate(int tradingDay) {
  count_ = 0;
  int monthNumber = MonthNumber(tradingDay);
  for (int step = 0; step < kMonths; ++step) {
    if (step > 0) monthNumber = NextMonth(monthNumber);
    const int threeDigits = monthNumber - 1000 * static_cast<int>(monthNumber * 0.001);
    for (int slot = 0; slot < kSlots; ++slot) {
      const char* product = kProducts[slot];
      if (product == nullptr || product[0] == '\0') continue;
      if (ThreeDigitSlot(slot)) {
        std::snprintf(codes_[count_], kCodeSize, "%s%03d", product, threeDigits);
      } else {
        std::snprintf(codes_[count_], kCodeSize, "%s%04d", product, monthNumber);
      }
      ++count_;
    }
  }
  return count_;
}
