#ifndef QUOTELOOM_TESTS_SUPPORT_FILE_TEXT_H
#define QUOTELOOM_TESTS_SUPPORT_FILE_TEXT_H

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// The whole file as bytes; empty when it cannot be read.
inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

#endif
