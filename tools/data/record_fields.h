#ifndef QUOTELOOM_TOOLS_DATA_RECORD_FIELDS_H
#define QUOTELOOM_TOOLS_DATA_RECORD_FIELDS_H

#include "core/tick_record.h"
#include "tools/data/collected_line.h"

// Which record member each number of the stored 24-field line holds. Constants, any thread.

struct RecordDoubleField {
  CollectedField field;
  double TickRecord::*member;
};
inline constexpr RecordDoubleField kRecordDoubleFields[] = {
    {kLastPrice, &TickRecord::LastPrice},          {kHighestPrice, &TickRecord::HighestPrice},
    {kLowestPrice, &TickRecord::LowestPrice},      {kOpenPrice, &TickRecord::OpenPrice},
    {kClosePrice, &TickRecord::ClosePrice},        {kAveragePrice, &TickRecord::AveragePrice},
    {kAskPrice1, &TickRecord::AskPrice1},          {kBidPrice1, &TickRecord::BidPrice1},
    {kUpperLimitPrice, &TickRecord::UpperLimitPrice}, {kLowerLimitPrice, &TickRecord::LowerLimitPrice},
    {kOpenInterest, &TickRecord::OpenInterest},    {kTurnover, &TickRecord::Turnover},
    {kPreClosePrice, &TickRecord::PreClosePrice},  {kPreOpenInterest, &TickRecord::PreOpenInterest},
    {kPreSettlementPrice, &TickRecord::PreSettlementPrice}};

struct RecordIntField {
  CollectedField field;
  int TickRecord::*member;
};
inline constexpr RecordIntField kRecordIntFields[] = {{kUpdateMillisec, &TickRecord::UpdateMillisec},
                                                      {kVolume, &TickRecord::Volume},
                                                      {kAskVolume1, &TickRecord::AskVolume1},
                                                      {kBidVolume1, &TickRecord::BidVolume1}};

#endif
