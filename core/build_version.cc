#include "core/build_version.h"

const char* QuoteloomVersion() { return QUOTELOOM_VERSION; }
