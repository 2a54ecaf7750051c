#ifndef QUOTELOOM_PLATFORM_FRONTSIM_FAULT_FIELD_H
#define QUOTELOOM_PLATFORM_FRONTSIM_FAULT_FIELD_H

#include <string_view>

#include "ThostFtdcUserApiStruct.h"

// A double field of the depth record by its record name, or null for any other name. Any thread.
using DepthDoubleField = double CThostFtdcDepthMarketDataField::*;
const DepthDoubleField* FindFaultField(std::string_view name);

#endif
