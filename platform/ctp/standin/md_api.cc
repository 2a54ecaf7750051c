#include "ThostFtdcMdApi.h"
#include "platform/ctp/standin/md_api_impl.h"

// Flow files, UDP and multicast belong to the vendor's transport; the stand-in ignores them.
CThostFtdcMdApi* CThostFtdcMdApi::CreateFtdcMdApi(const char*, const bool, const bool) { return new MdApiImpl(); }

const char* CThostFtdcMdApi::GetApiVersion() { return "quoteloom stand-in md api 1.0"; }
