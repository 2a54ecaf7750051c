#ifndef QUOTELOOM_TESTS_CLUSTER_CLUSTER_TEST_FILES_H
#define QUOTELOOM_TESTS_CLUSTER_CLUSTER_TEST_FILES_H

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/file_text.h"

// A fresh folder under /tmp, removed with the object. Test thread only.
class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/quoteloom-cluster-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A general-style tick line of `contract` whose volume `n` makes it unique, stamped `stamp`.
inline std::string TestTickLine(const std::string& contract, int n, const std::string& stamp = "20240301090507") {
  char line[400];
  std::snprintf(line, sizeof(line),
                "%s,%s,20240301,20240301,09:05:07,%d,3725,%d,3750,3700,3710,-1,37251.2,3726,15,3725,30,3950,3500,"
                "1.65432e+06,4.59877e+09,3720,1.65e+06,3722\r\n",
                stamp.c_str(), contract.c_str(), n % 1000, n);
  return line;
}

inline void AppendText(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::app) << text;
}

#endif
