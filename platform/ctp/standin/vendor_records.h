#ifndef QUOTELOOM_PLATFORM_CTP_STANDIN_VENDOR_RECORDS_H
#define QUOTELOOM_PLATFORM_CTP_STANDIN_VENDOR_RECORDS_H

#include "ThostFtdcUserApiStruct.h"
#include "platform/ctp/wire/front_message.h"

// Between the wire's fixed records and the vendor records of the layout family the stand-in is
// built for, field by field by name. Pure functions; any thread.
void ToVendor(const FrontRspInfo& in, CThostFtdcRspInfoField* out);
void ToVendor(const FrontLoginReplyFields& in, CThostFtdcRspUserLoginField* out);
void ToVendor(const FrontUserFields& in, CThostFtdcUserLogoutField* out);
void ToVendor(const FrontInstrument& in, CThostFtdcSpecificInstrumentField* out);
// A code longer than the family's field fills the whole field without a terminator, as a front of
// that layout would hand over a code it cannot hold.
void ToVendor(const FrontDepthMarketData& in, CThostFtdcDepthMarketDataField* out);

void ToWire(const CThostFtdcReqUserLoginField& in, FrontLoginFields* out);
void ToWire(const CThostFtdcUserLogoutField& in, FrontUserFields* out);

#endif
