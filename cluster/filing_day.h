#ifndef QUOTELOOM_CLUSTER_FILING_DAY_H
#define QUOTELOOM_CLUSTER_FILING_DAY_H

#include <string>
#include <string_view>

// The trading day under which the collector filed a line, from the line's own write stamp by the
// collector's rule (from 18:00 the next trading day; Friday evening and Saturday for Monday), after
// moving the stamp by `shiftSeconds`. Empty for a stamp that is not a valid date and time, or whose
// day is not a calendar date the tools accept (before 1900). Pure.
std::string FilingDayOfStamp(std::string_view writeStamp, int shiftSeconds = 0);

#endif
