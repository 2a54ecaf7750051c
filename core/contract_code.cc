#include "core/contract_code.h"

bool IsContractCodeCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' || c == '&' ||
         c == '-';
}

bool IsContractCode(std::string_view code) {
  if (code.empty() || code.size() > kMaxContractCodeLength) return false;
  // A combination's space or sign sits inside a code: " ", " rb" or "rb " would make a file name
  // that hides what it holds.
  const char first = code.front();
  if (first == ' ' || first == '&' || first == '-' || code.back() == ' ') return false;
  for (char c : code) {
    if (!IsContractCodeCharacter(c)) return false;
  }
  return true;
}
