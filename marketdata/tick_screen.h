#ifndef QUOTELOOM_MARKETDATA_TICK_SCREEN_H
#define QUOTELOOM_MARKETDATA_TICK_SCREEN_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "ThostFtdcUserApiStruct.h"
#include "core/contract_code.h"

// Decides whether the intake may take a tick before it becomes a record. The contract code names a
// stored file and starts the stored line, so it must be whole (at most 30 characters), made of the
// characters exchange codes use, and one the collector subscribed since its last login; the days
// and the update time must not hold a comma or a control character. Prices and odd but harmless
// texts are not judged. Used by the API's callback thread; refused() by any thread.
class TickScreen {
 public:
  enum class Verdict {
    kAccept,
    kEmptyCode,
    kCodeTooLong,
    kCodeCharacters,
    kTextField,
    kNotLoggedIn,
    kNotSubscribed,
  };
  static constexpr int kVerdicts = static_cast<int>(Verdict::kNotSubscribed) + 1;

  // Longest code a stored record holds.
  static constexpr std::size_t kMaxCodeLength = kMaxContractCodeLength;
  // Distinct codes whose refusal is logged; a front sending more is logged once more, then counted only.
  static constexpr std::size_t kMaxLoggedCodes = 1024;

  // A successful login: ticks are taken for the codes subscribed from now on.
  void LoggedIn();
  void Subscribed(std::string_view code);
  // A new or lost connection: nothing is subscribed until the next login.
  void LoggedOut();

  Verdict Check(const CThostFtdcDepthMarketDataField& data) const;
  // Counts the refused tick and logs it on "CTP日志", once per contract code.
  void Refuse(const CThostFtdcDepthMarketDataField& data, Verdict verdict);

  std::uint64_t refused() const { return refused_.load(std::memory_order_relaxed); }
  std::uint64_t refused(Verdict verdict) const {
    return refusedBy_[static_cast<int>(verdict)].load(std::memory_order_relaxed);
  }

  // A short name of the verdict for a metric label: "code_too_long", "not_subscribed".
  static const char* Label(Verdict verdict);

  static const char* Reason(Verdict verdict);

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  using CodeSet = std::unordered_set<std::string, Hash, std::equal_to<>>;

  // Callback thread only.
  bool loggedIn_ = false;
  CodeSet subscribed_;
  CodeSet logged_;
  bool loggingStopped_ = false;

  std::atomic<std::uint64_t> refused_{0};
  std::atomic<std::uint64_t> refusedBy_[kVerdicts] = {};
};

#endif
