#include "cluster/stored_tick_line.h"

#include <cerrno>
#include <cfloat>
#include <cstdlib>
#include <cstring>

#include "storage/tick_line.h"

namespace {

// 0-based indexes of the fields that hold ints; all fields from 6 on that are not ints are doubles.
constexpr bool IsIntField(std::size_t i) { return i == 5 || i == 7 || i == 14 || i == 16; }

bool AllOf(std::string_view s, const char* allowed) {
  for (char c : s) {
    if (std::strchr(allowed, c) == nullptr || c == '\0') return false;
  }
  return true;
}

bool IsDigits(std::string_view s) { return AllOf(s, "0123456789"); }

bool IsInt(std::string_view s) {
  std::string_view digits = s;
  if (!digits.empty() && digits.front() == '-') digits.remove_prefix(1);
  if (digits.empty() || digits.size() > 10 || !IsDigits(digits)) return false;
  const long long v = std::strtoll(std::string(s).c_str(), nullptr, 10);
  return v >= INT32_MIN && v <= INT32_MAX;
}

bool ParseDouble(std::string_view s, double* value) {
  if (s.empty() || s.size() >= kNumberSize || !AllOf(s, "0123456789+-.eEnaif")) return false;
  const std::string copy(s);
  char* end = nullptr;
  errno = 0;
  *value = std::strtod(copy.c_str(), &end);
  return end == copy.c_str() + copy.size();
}

bool IsDouble(std::string_view s) {
  double ignored;
  return ParseDouble(s, &ignored);
}

bool Fail(std::string* why, const std::string& text) {
  if (why != nullptr) *why = text;
  return false;
}

bool CheckField(std::size_t i, std::string_view f, std::string* why) {
  const std::string name = "field " + std::to_string(i + 1);
  switch (i) {
    case 0:
      return f.size() == 14 && IsDigits(f) ? true : Fail(why, "write stamp is not 14 digits");
    case 1:
      if (f.empty() || f.size() > StoredTickLine::kMaxContractSize) return Fail(why, "contract code length");
      for (unsigned char c : f) {
        if (c < 0x20 || c == 0x7f) return Fail(why, "control character in the contract code");
      }
      return true;
    case 2:
    case 3:
      return f.size() <= 8 && IsDigits(f) ? true : Fail(why, name + " is not a day");
    case 4:
      return f.size() <= 8 && AllOf(f, "0123456789:") ? true : Fail(why, "update time");
    default:
      if (IsIntField(i)) return IsInt(f) ? true : Fail(why, name + " is not an int");
      return IsDouble(f) ? true : Fail(why, name + " is not a number");
  }
}

}  // namespace

std::string_view StoredTickLine::exchangeContent() const {
  const char* begin = fields[1].data();
  const char* end = fields[kFieldCount - 1].data() + fields[kFieldCount - 1].size();
  return std::string_view(begin, static_cast<std::size_t>(end - begin));
}

bool ParseStoredTickLine(std::string_view text, StoredTickLine* out, std::string* why) {
  if (text.size() > StoredTickLine::kMaxLineSize) return Fail(why, "line too long");
  if (text.size() < 2 || text.substr(text.size() - 2) != "\r\n") return Fail(why, "no CR LF at the end");
  const std::string_view body = text.substr(0, text.size() - 2);
  if (body.find_first_of("\r\n") != std::string_view::npos) return Fail(why, "line break inside the line");
  std::size_t start = 0;
  for (std::size_t i = 0; i < StoredTickLine::kFieldCount; ++i) {
    const std::size_t comma = body.find(',', start);
    const bool last = i + 1 == StoredTickLine::kFieldCount;
    if (last != (comma == std::string_view::npos)) return Fail(why, "not 24 fields");
    const std::size_t end = last ? body.size() : comma;
    out->fields[i] = body.substr(start, end - start);
    if (!CheckField(i, out->fields[i], why)) return false;
    start = end + 1;
  }
  out->text = text;
  return true;
}

std::string FixedStyleLine(const StoredTickLine& line) {
  std::string out;
  out.reserve(line.text.size() + 64);
  for (std::size_t i = 0; i < StoredTickLine::kFieldCount; ++i) {
    if (i > 0) out += ',';
    const std::string_view f = line.fields[i];
    if (i < 5 || IsIntField(i)) {
      out += f;
      continue;
    }
    double value = 0;
    ParseDouble(f, &value);
    if (f == "1.79769e+308") value = DBL_MAX;
    if (f == "-1.79769e+308") value = -DBL_MAX;
    char number[kNumberSize];
    out.append(number, FormatNumber(value, NumberStyle::kFixed, number));
  }
  out += "\r\n";
  return out;
}
