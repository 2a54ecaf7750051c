#include "platform/frontsim/sim_summary.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/open_regular_file.h"

namespace {

// Contract codes are letters and digits, but a replayed file may bring anything.
void AppendJsonString(std::string& out, const std::string& text) {
  out += '"';
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

}  // namespace

std::string SimSummary::ToJson() const {
  std::string out = "{\n  \"ticks_total\": " + std::to_string(ticks_total) + ",\n  \"ticks\": {";
  bool first = true;
  for (const auto& [code, count] : ticks) {
    out += first ? "\n    " : ",\n    ";
    first = false;
    AppendJsonString(out, code);
    out += ": " + std::to_string(count);
  }
  out += first ? "},\n" : "\n  },\n";
  out += "  \"logins\": " + std::to_string(logins) + ",\n";
  out += "  \"refused_logins\": " + std::to_string(refused_logins) + ",\n";
  out += "  \"subscriptions\": " + std::to_string(subscriptions) + ",\n";
  out += "  \"connections\": " + std::to_string(connections) + ",\n";
  out += "  \"ticks_skipped\": " + std::to_string(ticks_skipped) + ",\n";
  out += "  \"ticks_hostile\": " + std::to_string(ticks_hostile) + "\n}\n";
  return out;
}

bool WriteSimSummary(const SimSummary& summary, const std::string& path, std::string* error) {
  std::string temporary = path + ".tmp";
  std::string written;
  if (!WriteRegularFile(temporary.c_str(), summary.ToJson(), false, &written)) {
    *error = "cannot write " + written;
    std::remove(temporary.c_str());
    return false;
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}
