#ifndef QUOTELOOM_COLLECTOR_MD_API_FACTORY_H
#define QUOTELOOM_COLLECTOR_MD_API_FACTORY_H

// What differs between the vendor's releases when the collector creates its market-data API, found
// at compile time so the same source builds against every SDK. Templates over the API class, so a
// test can hand in classes of either shape. Any thread.

// Releases from 6.7.11 on take the environment as a fourth argument of CreateFtdcMdApi.
template <typename Api>
constexpr bool kApiChoosesEnvironment = requires { Api::CreateFtdcMdApi("", false, false, true); };

// Flow path "", no UDP, no multicast; `production` is passed where the release takes it.
template <typename Api>
Api* CreateMdApi(bool production) {
  if constexpr (kApiChoosesEnvironment<Api>) {
    return Api::CreateFtdcMdApi("", false, false, production);
  } else {
    (void)production;
    return Api::CreateFtdcMdApi("", false, false);
  }
}

// The release's version text, or null where the release has no GetApiVersion.
template <typename Api>
const char* MdApiVersion() {
  if constexpr (requires { Api::GetApiVersion(); }) {
    return Api::GetApiVersion();
  } else {
    return nullptr;
  }
}

#endif
