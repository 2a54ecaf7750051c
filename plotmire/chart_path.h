#ifndef QUOTELOOM_PLOTMIRE_CHART_PATH_H
#define QUOTELOOM_PLOTMIRE_CHART_PATH_H

#include <QString>

// Where the file of a received path "yyyymmdd\contract.csv" lies: <program dir>/Data/<day>/<file>.
struct ChartPath {
  bool ok = false;
  QString file_path;    // full path when ok
  QString trading_day;  // the day folder as received
  QString file_name;    // the contract file as received
  QString error;        // what is wrong with the received path when not ok
};

// Forms the path from the program's own directory and a received relative path. The day and the
// file name are separated by a backslash (a slash is taken as well); neither may be empty, "." or
// "..", nor hold a further separator, so a received path never leads out of the Data folder.
ChartPath FormChartPath(const QString& program_dir, const QString& received);

#endif
