// The trading side of the CTP interface. The collector never trades; the header exists so that an
// SDK folder written from these headers has the vendor archive's shape.
#ifndef THOST_FTDC_TRADER_API_H
#define THOST_FTDC_TRADER_API_H

#include "ThostFtdcUserApiStruct.h"

class CThostFtdcTraderSpi {
 public:
  virtual void OnFrontConnected() {}
  virtual void OnFrontDisconnected(int nReason) { (void)nReason; }
};

#endif
