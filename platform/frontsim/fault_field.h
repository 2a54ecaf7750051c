#ifndef QUOTELOOM_PLATFORM_FRONTSIM_FAULT_FIELD_H
#define QUOTELOOM_PLATFORM_FRONTSIM_FAULT_FIELD_H

#include <string_view>

#include "platform/ctp/wire/front_message.h"

// A double field of the depth record by its record name, or null for any other name. Any thread.
using DepthDoubleField = double FrontDepthMarketData::*;
const DepthDoubleField* FindFaultField(std::string_view name);

#endif
