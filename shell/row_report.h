#ifndef QUOTELOOM_SHELL_ROW_REPORT_H
#define QUOTELOOM_SHELL_ROW_REPORT_H

#include <QString>

// One tick report as the data view applies it: the row it lands in and the write count to show.
struct RowReport {
  int row = 0;
  bool added = false;  // the first report of the file: the row is inserted
  int writeCount = 0;  // the count before this report's increase
  QString fileName;
  QString lastPrice;
  QString openInterest;
  QString localTime;
  QString tradingDay;
};

#endif
