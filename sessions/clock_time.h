#ifndef QUOTELOOM_SESSIONS_CLOCK_TIME_H
#define QUOTELOOM_SESSIONS_CLOCK_TIME_H

#include <string_view>

// An exchange's "HH:MM:SS" update time as seconds since midnight (0 to 86399); -1 unless the text is
// exactly two digits, a colon, two digits, a colon and two digits of a valid time. Second 60 is
// refused: exchange times have no leap seconds. Pure, any thread.
int ParseClockTime(std::string_view text);

#endif
