#ifndef QUOTELOOM_PLOTMIRE_TICK_LINE_PARSER_H
#define QUOTELOOM_PLOTMIRE_TICK_LINE_PARSER_H

#include <string>
#include <string_view>

#include "plotmire/chart_tick.h"

// Parses one 24-field tick line (fixed or general number style, with or without its CR).
// Returns false and a short reason in *error when the line is malformed; *tick is then unspecified.
bool ParseTickLine(std::string_view line, ChartTick* tick, std::string* error);

// Seconds since midnight of "HH:MM:SS", or -1 when the text is not such a time.
int ParseClockTime(std::string_view text);

#endif
