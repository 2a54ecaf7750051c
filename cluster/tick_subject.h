#ifndef QUOTELOOM_CLUSTER_TICK_SUBJECT_H
#define QUOTELOOM_CLUSTER_TICK_SUBJECT_H

#include <optional>
#include <string>
#include <string_view>

// Subjects of tick messages, "<prefix>.<product>.<contract>". Pure functions, any thread.
//
// A subject token holds printable ASCII except '.', '*', '>' and space; every other byte of a code
// (and '%' itself) is written as '%' and two upper-case hex digits, so the encoding is reversible:
// "IO2403-C.3800" -> "IO2403-C%2E3800". The product is the code's leading ASCII letters, or "_" when
// the code starts with something else.

std::string EncodeSubjectToken(std::string_view raw);
// Empty when `token` is not a valid encoding.
std::optional<std::string> DecodeSubjectToken(std::string_view token);

std::string ProductOf(std::string_view contract);
std::string TickSubject(std::string_view prefix, std::string_view contract);

// True when `prefix` is one or more non-empty tokens without wildcards or spaces.
bool IsValidSubjectPrefix(std::string_view prefix);

#endif
