#ifndef QUOTELOOM_CORE_CONTRACT_CODE_H
#define QUOTELOOM_CORE_CONTRACT_CODE_H

#include <cstddef>
#include <string_view>

// Which contract codes Quoteloom stores: the one rule of the collector's intake and of the cluster
// archive. A code names a stored file and starts the stored line. Pure functions, any thread.

// Longest code a stored record holds.
inline constexpr std::size_t kMaxContractCodeLength = 30;

// Letters and digits, and for combination contracts the space, '&' and '-'.
bool IsContractCodeCharacter(char c);

// 1 to 30 characters, every one a code character, starting with a letter or digit and not
// ending with a space.
bool IsContractCode(std::string_view code);

#endif
