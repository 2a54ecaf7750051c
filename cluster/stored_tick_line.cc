#include "cluster/stored_tick_line.h"

#include <cfloat>
#include <cstring>

namespace {

bool AllOf(std::string_view s, const char* allowed) {
  for (char c : s) {
    if (std::strchr(allowed, c) == nullptr || c == '\0') return false;
  }
  return true;
}

bool IsDigits(std::string_view s) { return AllOf(s, "0123456789"); }

bool IsInt(std::string_view s) {
  int ignored;
  return ParseTickLineNumber(s, &ignored);
}

// Only the characters printf writes in a double ("nan", "-inf", exponents): no "infinity" or "nan(...)".
bool ParseDouble(std::string_view s, double* value) {
  return s.size() < kNumberSize && AllOf(s, "0123456789+-.eEnaif") && ParseTickLineNumber(s, value);
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
  using namespace tick_field;
  const std::string name = "field " + std::to_string(i + 1);
  switch (i) {
    case kWriteStamp:
      return f.size() == 14 && IsDigits(f) ? true : Fail(why, "write stamp is not 14 digits");
    case kInstrumentID:
      if (f.empty() || f.size() > StoredTickLine::kMaxContractSize) return Fail(why, "contract code length");
      for (unsigned char c : f) {
        if (c < 0x20 || c == 0x7f) return Fail(why, "control character in the contract code");
      }
      return true;
    case kTradingDay:
    case kActionDay:
      return f.size() <= 8 && IsDigits(f) ? true : Fail(why, name + " is not a day");
    case kUpdateTime:
      return f.size() <= 8 && AllOf(f, "0123456789:") ? true : Fail(why, "update time");
    default:
      if (KindOfTickLineField(static_cast<int>(i)) == TickLineFieldKind::kInt) {
        return IsInt(f) ? true : Fail(why, name + " is not an int");
      }
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
  TickLineFields split;
  if (!SplitTickLine(body, &split)) return Fail(why, "not 24 fields");
  for (std::size_t i = 0; i < StoredTickLine::kFieldCount; ++i) {
    out->fields[i] = split.field[i];
    if (!CheckField(i, out->fields[i], why)) return false;
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
    if (KindOfTickLineField(static_cast<int>(i)) != TickLineFieldKind::kDouble) {
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
