#ifndef QUOTELOOM_SESSIONS_EXCHANGE_H
#define QUOTELOOM_SESSIONS_EXCHANGE_H

#include <string_view>

#include "core/clock.h"

// The exchange that lists a product, and whether its products trade at a moment of the local
// clock. Pure functions over constant tables, any thread; ExchangeOfCode is cheap enough for the
// tick path (two table reads).

enum class Exchange { kShfe, kIne, kDce, kCzce, kCffex, kCount, kUnknown = kCount };

inline constexpr int kExchangeCount = static_cast<int>(Exchange::kCount);

// "SHFE", "INE", "DCE", "CZCE", "CFFEX"; "unknown" for kUnknown.
const char* ExchangeName(Exchange exchange);

// The exchange of a product code ("rb", "AP"); kUnknown for a product no exchange lists here.
Exchange ExchangeOfProduct(std::string_view product);

// The exchange of a contract code ("rb2405"), from its leading letters.
Exchange ExchangeOfCode(const char* code);

// True while a product of the exchange is in continuous trading at `reading`: inside a period of
// the session table, on a weekday evening (Monday to Friday), a night past midnight that began on
// one, or a weekday's day session. No holiday calendar.
bool ExchangeInSession(Exchange exchange, const ClockReading& reading);

#endif
