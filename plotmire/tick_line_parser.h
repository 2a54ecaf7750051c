#ifndef QUOTELOOM_PLOTMIRE_TICK_LINE_PARSER_H
#define QUOTELOOM_PLOTMIRE_TICK_LINE_PARSER_H

#include <string>
#include <string_view>

#include "plotmire/chart_tick.h"

// Parses one 24-field tick line (fixed or general number style, with or without its CR).
// Returns false and a short reason in *error when the line is malformed; *tick may then be partly filled.
bool ParseTickLine(std::string_view line, ChartTick* tick, std::string* error);

#endif
